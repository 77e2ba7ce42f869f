/*
 * Runs a command where close_range() is refused (EPERM), as a system call
 * filter older than the call refuses it, with descriptor 9 left open
 * across exec, as a careless parent leaves one:
 * refuse_close_range PROGRAM ARG...
 */
#include <errno.h>
#include <fcntl.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef SYS_close_range
#define SYS_close_range 436
#endif

int main(int argc, char **argv)
{
	struct sock_filter refuse[] = {
		BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
		BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_close_range, 0, 1),
		BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
		BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
	};
	struct sock_fprog filter = {sizeof refuse / sizeof refuse[0], refuse};
	if (argc < 2 || prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0
		|| prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0) {
		perror("refuse_close_range");
		return 125;
	}
	int null = open("/dev/null", O_RDONLY);
	if (null < 0 || dup2(null, 9) != 9) {
		perror("refuse_close_range: /dev/null");
		return 125;
	}
	execv(argv[1], argv + 1);
	perror(argv[1]);
	return 127;
}
