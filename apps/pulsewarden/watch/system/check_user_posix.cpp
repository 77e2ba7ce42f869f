// Linux. The check's process changes its groups, group and user (in that
// order: after the user, it could no longer change the others) and takes
// the user's environment, as runuser does: HOME, USER, LOGNAME, SHELL and
// login.defs' PATH. Whether it can run the program is asked of a process
// that has become the user, so that every permission on the way (a
// directory, an ACL) answers as it will when the check runs.
#include "check_user.h"

#include "events.h"
#include "files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

struct CheckUser {
	char name[33];
	uid_t uid;
	gid_t gid;
	int groupCount;
	gid_t groups[256];
	char variables[5][600];
	char *environment[6];
};

CheckUser *lookUpCheckUser(const char *name, char *why, size_t size)
{
	errno = 0;
	struct passwd *entry = getpwnam(name);
	if (!entry) {
		snprintf(why, size, "check_user %s: %s", name, errno ? strerror(errno) : "no such user");
		return nullptr;
	}
	if (geteuid() != 0 && entry->pw_uid != geteuid()) {
		snprintf(why, size, "check_user %s: only root can run a check as another user (the watcher runs as uid %u)",
			name, static_cast<unsigned>(geteuid()));
		return nullptr;
	}
	auto *user = static_cast<CheckUser *>(calloc(1, sizeof(CheckUser)));
	if (!user) {
		snprintf(why, size, "check_user %s: %s", name, strerror(ENOMEM));
		return nullptr;
	}
	snprintf(user->name, sizeof user->name, "%s", name);
	user->uid = entry->pw_uid;
	user->gid = entry->pw_gid;
	user->groupCount = static_cast<int>(sizeof user->groups / sizeof user->groups[0]);
	if (getgrouplist(name, entry->pw_gid, user->groups, &user->groupCount) < 0) {
		snprintf(why, size, "check_user %s: in more than %zu groups", name, sizeof user->groups / sizeof user->groups[0]);
		free(user);
		return nullptr;
	}
	const char *shell = *entry->pw_shell ? entry->pw_shell : "/bin/sh";
	const char *path = entry->pw_uid == 0 ? "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
		: "/usr/local/bin:/usr/bin:/bin";
	snprintf(user->variables[0], sizeof user->variables[0], "HOME=%s", entry->pw_dir);
	snprintf(user->variables[1], sizeof user->variables[1], "USER=%s", entry->pw_name);
	snprintf(user->variables[2], sizeof user->variables[2], "LOGNAME=%s", entry->pw_name);
	snprintf(user->variables[3], sizeof user->variables[3], "SHELL=%s", shell);
	snprintf(user->variables[4], sizeof user->variables[4], "PATH=%s", path);
	for (int i = 0; i < 5; i++)
		user->environment[i] = user->variables[i];
	return user;
}

void releaseCheckUser(CheckUser *user)
{
	free(user);
}

bool becomeCheckUser(const CheckUser *user)
{
	// A watcher that is not root runs checks as itself (lookUpCheckUser
	// saw to it): only the environment changes.
	if (geteuid() == 0
		&& (setgroups(static_cast<size_t>(user->groupCount), user->groups) != 0
			|| setresgid(user->gid, user->gid, user->gid) != 0 || setresuid(user->uid, user->uid, user->uid) != 0))
		return false;
	environ = const_cast<char **>(user->environment);
	return true;
}

// Asks a process that has become the user whether it can start the
// program, and where its PATH finds it. False, with why, when it cannot.
// Its answer comes through the pipe, its first byte saying which: the
// watcher's loop may collect the process before this waits for it.
static bool usableAs(const char *program, const CheckUser *user, char *found, size_t foundSize, char *why,
	size_t size)
{
	int answer[2];
	if (pipe2(answer, O_CLOEXEC) != 0) {
		snprintf(why, size, "%s: %s", program, strerror(errno));
		return false;
	}
	pid_t pid = fork();
	if (pid == 0) {
		close(answer[0]);
		char text[4096 + 400] = "";
		bool usable = becomeCheckUser(user);
		if (!usable)
			snprintf(text + 1, sizeof text - 1, "%s: cannot become the check's user: %s", program, strerror(errno));
		else if ((usable = checkProgramUsable(program, text + 1, sizeof text - 1)))
			findCheckProgram(program, text + 1, sizeof text - 1);
		text[0] = usable ? 'y' : 'n';
		ssize_t ignored = write(answer[1], text, strlen(text));
		(void)ignored;
		_exit(usable ? 0 : 1);
	}
	close(answer[1]);
	char text[4096 + 400];
	size_t length = 0;
	ssize_t n;
	while (pid > 0 && (n = read(answer[0], text + length, sizeof text - 1 - length)) != 0) {
		if (n > 0)
			length += static_cast<size_t>(n);
		else if (errno != EINTR)
			break;
	}
	close(answer[0]);
	text[length] = '\0';
	int status = 1;
	if (pid < 0) {
		snprintf(why, size, "%s: %s", program, strerror(errno));
		return false;
	}
	while (waitpid(pid, &status, 0) < 0 && errno == EINTR)
		;
	if (length == 0 || text[0] != 'y') {
		snprintf(why, size, "%s (as check_user %s)", length > 1 ? text + 1 : "cannot tell whether it can run",
			user->name);
		return false;
	}
	if (length - 1 >= foundSize) {
		snprintf(why, size, "%s: its path is too long", program);
		return false;
	}
	memcpy(found, text + 1, length);
	return true;
}

bool checkProgramTrusted(const char *program, const CheckUser *user, char *why, size_t size)
{
	// Judged before it is looked into: the kernel refuses to follow some
	// links (fs.protected_symlinks), and says only "Permission denied".
	if (strchr(program, '/') && pathExists(program) && writableByOthers(program, why, size))
		return false;
	char found[4096];
	if (user) {
		if (!usableAs(program, user, found, sizeof found, why, size))
			return false;
	} else if (!checkProgramUsable(program, why, size) || !findCheckProgram(program, found, sizeof found)) {
		return false;
	}
	if (writableByOthers(found, why, size))
		return false;
	char interpreter[256];
	return !scriptInterpreter(found, interpreter, sizeof interpreter) || !*interpreter
		|| !writableByOthers(interpreter, why, size);
}
