// Linux. A check is started in a process group of its own, with every
// signal at its default and none blocked; its group is what a timeout or a
// stop ends. Its own process gets the parent-death signal: a watcher
// killed outright (SIGKILL) takes it along. One poll() waits for exactly
// what can happen: the schedule's timer (a timerfd on the boot-time clock, which counts a suspended
// machine's sleep), the check's output, a worker's wake (through a
// self-pipe), the signals that ask something and a child's end (blocked
// in every thread and read from a signalfd: whichever thread runs the loop
// hears them, even while another is held up in the platform's library,
// and no call is interrupted by a handler), the watched process's end (a
// pidfd).
#include "events.h"

#include "check_user.h"
#include "system.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/timerfd.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef SYS_close_range
#define SYS_close_range 436  // the same on every architecture
#endif

struct Check {
	pid_t pid;          // also its process group
	int output;         // the pipe's reading end; -1 once closed
	bool exited;        // its own process has ended: `outcome` says how
	bool ended;         // and no process of its group is left
	long starter;       // the thread that started it, whose children it leaves
	CheckOutcome outcome;
	FirstLine line;
};

struct WatchedProcess {
	long pid;
	int fd;             // a pidfd; -1 where the kernel has none
	bool gone;
};

static int requestPipe[2] = {-1, -1};  // written by the workers
static int signalled = -1;  // a signalfd for the requests' signals and SIGCHLD
static int timer = -1;
static bool subreaper;  // what a check leaves behind is the watcher's to collect
static int64_t armedFor = -1;  // the deadline the timer is set to and has not fired for

void wakeWatcher()
{
	char what = 'W';
	ssize_t ignored = write(requestPipe[1], &what, 1);
	(void)ignored;
}

bool catchRequests(bool /*console*/, char *why, size_t size)
{
	// Blocked before any thread starts, so that every thread inherits it
	// and the signal stays pending for the signalfd.
	sigset_t caught;
	sigemptyset(&caught);
	const int asking[] = {SIGCHLD, SIGTERM, SIGINT, SIGHUP, SIGUSR1};
	for (int sig : asking)
		sigaddset(&caught, sig);
	pthread_sigmask(SIG_BLOCK, &caught, nullptr);
	// What a check leaves behind when its own process ends is ours to
	// collect, not init's: its end (SIGCHLD) says when nothing of the
	// check is left, and a process that cannot die (one stuck in the
	// kernel) stays in sight.
	subreaper = prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
	timer = timerfd_create(CLOCK_BOOTTIME, TFD_CLOEXEC | TFD_NONBLOCK);
	signalled = signalfd(-1, &caught, SFD_CLOEXEC | SFD_NONBLOCK);
	if (timer < 0 || signalled < 0 || pipe2(requestPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
		snprintf(why, size, "cannot wait for events: %s", strerror(errno));
		return false;
	}
	return true;
}

// This thread's id, asked of the kernel once a thread.
static long ownThreadId()
{
	static thread_local long id = syscall(SYS_gettid);
	return id;
}

// The watcher's process id, its first thread's too, asked once: a thread
// of the watcher's never changes it.
static long watcherId()
{
	static const long id = getpid();
	return id;
}

static bool executableFile(const char *path, int *error)
{
	struct stat st;
	if (stat(path, &st) != 0) {
		*error = errno;
		return false;
	}
	if (S_ISDIR(st.st_mode)) {
		*error = EISDIR;
		return false;
	}
	if (access(path, X_OK) != 0) {
		*error = errno;
		return false;
	}
	return true;
}

bool scriptInterpreter(const char *script, char *interpreter, size_t size)
{
	int fd = open(script, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
	if (fd < 0)
		return false;
	char head[256];
	ssize_t n = read(fd, head, sizeof head - 1);
	close(fd);
	if (n < 2 || head[0] != '#' || head[1] != '!')
		return false;
	head[n] = '\0';
	char *name = head + 2 + strspn(head + 2, " \t");
	name[strcspn(name, " \t\r\n")] = '\0';
	snprintf(interpreter, size, "%s", name);
	return true;
}

// A script's "#!" interpreter, which the kernel needs as much as the
// script: a missing one fails every start with the script's own name.
// What exec makes of a file that cannot be opened is said when it runs.
static bool interpreterUsable(const char *script, char *why, size_t size)
{
	char name[256];
	if (!scriptInterpreter(script, name, sizeof name))
		return true;
	int error = ENOENT;
	if (*name && executableFile(name, &error))
		return true;
	snprintf(why, size, "%s: its interpreter %s: %s", script, *name ? name : "(none)",
		error == ENOENT ? "not found" : strerror(error));
	return false;
}

// Where execvpe() finds the program: `candidate` holds it when found;
// else `error` says why not.
static bool locateProgram(const char *program, char *candidate, size_t size, int *error)
{
	*error = ENOENT;
	if (strchr(program, '/')) {
		snprintf(candidate, size, "%s", program);
		return executableFile(candidate, error);
	}
	// As execvpe() will look for it.
	const char *path = getenv("PATH");
	if (!path || !*path)
		path = "/bin:/usr/bin";
	for (const char *dir = path;; dir = strchr(dir, ':') + 1) {
		size_t length = strcspn(dir, ":");
		int n = snprintf(candidate, size, "%.*s%s%s", static_cast<int>(length), dir, length ? "/" : "", program);
		int found = ENOENT;
		if (n > 0 && static_cast<size_t>(n) < size && executableFile(candidate, &found))
			return true;
		if (found != ENOENT && found != ENOTDIR)
			*error = found;  // found, but not usable: say why
		if (!dir[length])
			return false;
	}
}

bool findCheckProgram(const char *program, char *path, size_t size)
{
	int error;
	return *program && locateProgram(program, path, size, &error);
}

bool checkProgramUsable(const char *program, char *why, size_t size)
{
	if (!*program) {
		snprintf(why, size, "an empty name");
		return false;
	}
	char candidate[4096];
	int error;
	if (locateProgram(program, candidate, sizeof candidate, &error))
		return interpreterUsable(candidate, why, size);
	snprintf(why, size, "%s: %s", program, error == ENOENT ? "not found" : strerror(error));
	return false;
}

// The service manager's variables are the watcher's alone: a check that
// speaks its protocol must not speak in the watcher's name.
static bool theWatchersOwn(const char *entry)
{
	static const char *const names[] = {"NOTIFY_SOCKET=", "WATCHDOG_USEC=", "WATCHDOG_PID=", nullptr};
	size_t i = 0;
	while (names[i] && strncmp(entry, names[i], strlen(names[i])) != 0)
		i++;
	return names[i] != nullptr;
}

// Every descriptor from `first` on, in the child: by close_range() (Linux
// 5.9, and called by its number, which a glibc before 2.34 has no wrapper
// for); where a kernel before it or a system call filter older than the
// call refuses it (ENOSYS, EPERM), those /proc/self/fd lists, read into
// the stack (the child may not allocate); one by one below the limit only
// without /proc, which at a limit of many thousands costs milliseconds.
static void closeFrom(int first)
{
	if (syscall(SYS_close_range, first, ~0U, 0) == 0)
		return;
	int list = open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (list >= 0) {
		alignas(8) char entries[4096];
		long n;
		while ((n = syscall(SYS_getdents64, list, entries, sizeof entries)) > 0) {
			for (long at = 0; at < n;) {
				const auto *d = reinterpret_cast<const struct dirent64 *>(entries + at);
				at += d->d_reclen;
				char *end;
				long fd = strtol(d->d_name, &end, 10);
				if (*end == '\0' && end != d->d_name && fd >= first && fd != list)
					close(static_cast<int>(fd));
			}
		}
		close(list);
		if (n == 0)
			return;
	}
	struct rlimit limit;
	int end = getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < INT_MAX ? static_cast<int>(limit.rlim_cur) : 65536;
	for (int fd = first; fd < end; fd++)
		close(fd);
}

// The child's side of spawnCheck: never returns.
[[noreturn]] static void becomeCheck(char *const *argv, char **env, const CheckUser *user, pid_t watcher, int output,
	int report)
{
	setpgid(0, 0);
	int error = 0;
	if (user && !becomeCheckUser(user))
		error = errno;
	// After the change of user, which would clear it.
	prctl(PR_SET_PDEATHSIG, SIGKILL);
	// The watcher may have died before the line above took effect.
	if (getppid() != watcher)
		_exit(127);
	for (int sig = 1; sig < NSIG; sig++)
		signal(sig, SIG_DFL);
	sigset_t none;
	sigemptyset(&none);
	sigprocmask(SIG_SETMASK, &none, nullptr);
	int null = open("/dev/null", O_RDONLY);
	if (error || null < 0 || dup2(null, STDIN_FILENO) < 0 || dup2(output, STDOUT_FILENO) < 0
		|| dup2(output, STDERR_FILENO) < 0 || dup3(report, STDERR_FILENO + 1, O_CLOEXEC) < 0)
		error = errno;
	if (!error) {
		// Not one descriptor of ours, whatever our parent left open; the
		// report closes itself on exec.
		closeFrom(STDERR_FILENO + 2);
		// The user's own environment is in place already.
		if (user)
			execvp(argv[0], argv);
		else
			execvpe(argv[0], argv, env);
		error = errno;
	}
	ssize_t ignored = write(STDERR_FILENO + 1, &error, sizeof error);
	(void)ignored;
	_exit(127);
}

Check *spawnCheck(char *const *argv, const CheckUser *user, char *why, size_t size)
{
	int pipeEnds[2];
	int report[2];  // the child's exec error; closed by a successful exec
	if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
		snprintf(why, size, "cannot start the check: %s", strerror(errno));
		return nullptr;
	}
	if (pipe2(report, O_CLOEXEC) != 0) {
		snprintf(why, size, "cannot start the check: %s", strerror(errno));
		close(pipeEnds[0]);
		close(pipeEnds[1]);
		return nullptr;
	}
	size_t count = 0;
	while (environ[count])
		count++;
	char **env = static_cast<char **>(calloc(count + 1, sizeof(char *)));
	Check *check = static_cast<Check *>(calloc(1, sizeof(Check)));
	pid_t pid = -1;
	int error = ENOMEM;
	if (env && check) {
		size_t kept = 0;
		for (size_t i = 0; i < count; i++)
			if (!theWatchersOwn(environ[i]))
				env[kept++] = environ[i];
		// No signal handler of ours may run in the child before it resets them.
		sigset_t all;
		sigset_t before;
		sigfillset(&all);
		sigprocmask(SIG_SETMASK, &all, &before);
		pid_t watcher = static_cast<pid_t>(watcherId());
		check->starter = ownThreadId();
		pid = fork();
		if (pid == 0)
			becomeCheck(argv, env, user, watcher, pipeEnds[1], report[1]);
		error = errno;
		if (pid > 0)
			setpgid(pid, pid);  // whichever of the two gets there first
		sigprocmask(SIG_SETMASK, &before, nullptr);
	}
	free(env);
	close(pipeEnds[1]);
	close(report[1]);
	if (pid > 0) {
		ssize_t n;
		while ((n = read(report[0], &error, sizeof error)) < 0 && errno == EINTR)
			;
		if (n == sizeof error) {
			waitpid(pid, nullptr, 0);
			pid = -1;
		}
	}
	close(report[0]);
	if (pid < 0) {
		close(pipeEnds[0]);
		free(check);
		// A script's missing interpreter fails the same way as a missing
		// script: say which.
		char detail[320];
		if (error == ENOENT && !checkProgramUsable(argv[0], detail, sizeof detail))
			snprintf(why, size, "cannot start the check: %s", detail);
		else
			snprintf(why, size, "cannot start the check: %s: %s", argv[0], strerror(error));
		return nullptr;
	}
	fcntl(pipeEnds[0], F_SETFL, O_NONBLOCK);
	check->pid = pid;
	check->output = pipeEnds[0];
	return check;
}

void signalCheck(Check *check, bool force)
{
	kill(-check->pid, force ? SIGKILL : SIGTERM);
}

bool checkExited(const Check *check, CheckOutcome *outcome)
{
	if (check->ended)
		*outcome = check->outcome;
	return check->ended;
}

// A /proc file's text, whole when it fits.
static bool readSmallFile(const char *path, char *text, size_t size)
{
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return false;
	ssize_t n = read(fd, text, size - 1);
	close(fd);
	if (n <= 0)
		return false;
	text[n] = '\0';
	return true;
}

// From each process's schedstat (its time on a processor, its time waiting
// for one, in ns), found by its group in stat; every thread's wait is in
// its process's.
int64_t checkWaitedNs(const Check *check)
{
	DIR *proc = opendir("/proc");
	if (!proc)
		return 0;
	int64_t waited = 0;
	while (struct dirent *entry = readdir(proc)) {
		if (entry->d_name[0] < '1' || entry->d_name[0] > '9')
			continue;
		char path[300];
		char text[512];
		snprintf(path, sizeof path, "/proc/%s/stat", entry->d_name);
		if (!readSmallFile(path, text, sizeof text))
			continue;
		// After the name, which may hold anything: ") STATE PPID PGRP".
		const char *after = strrchr(text, ')');
		if (!after || after[1] != ' ' || !after[2] || after[3] != ' ')
			continue;
		char *end;
		strtol(after + 4, &end, 10);
		if (strtol(end, &end, 10) != check->pid)
			continue;
		snprintf(path, sizeof path, "/proc/%s/schedstat", entry->d_name);
		if (!readSmallFile(path, text, sizeof text))
			continue;
		strtoll(text, &end, 10);  // its time on a processor
		char *next;
		long long waiting = strtoll(end, &next, 10);
		if (next != end && waiting > 0)
			waited += waiting;
	}
	closedir(proc);
	return waited;
}

void describeKill(int signal, char *text, size_t size)
{
	snprintf(text, size, "killed by signal %d (%s)", signal, strsignal(signal));
}

// Reads what the check printed, so that one that prints much never blocks
// on a full pipe; a few reads at a time, so that one that never stops
// cannot hold up the schedule.
static void readOutput(Check *check)
{
	char chunk[4096];
	ssize_t n = -1;
	for (int reads = 0; reads < 16 && (n = read(check->output, chunk, sizeof chunk)) > 0; reads++)
		keepFirstLine(&check->outcome, &check->line, chunk, static_cast<size_t>(n));
	if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
		close(check->output);
		check->output = -1;
	}
}

// The children of the watcher's thread `tid`, each ended with `signal`
// when one is given; true when there is any.
static bool childrenOf(long tid, int signal)
{
	char path[64];
	snprintf(path, sizeof path, "/proc/self/task/%ld/children", tid);
	int fd = open(path, O_RDONLY | O_CLOEXEC);
	if (fd < 0)
		return false;
	char text[4096];
	ssize_t n = read(fd, text, sizeof text - 1);
	close(fd);
	if (n <= 0)
		return false;
	text[n] = '\0';
	char *end;
	for (const char *p = text; *p; p = end) {
		long pid = strtol(p, &end, 10);
		if (end == p)
			break;
		if (signal && pid > 0)
			kill(static_cast<pid_t>(pid), signal);
	}
	return true;
}

// What a check left behind that is the watcher's child now: a process
// that left the check's group (setsid) is the subreaper's once its parent
// has ended, a child of the watcher's first thread (the kernel gives an
// orphan to the first of the subreaper's threads); one not yet orphaned is
// the child of the thread that started the check (the loop's, or the
// standby's that took the loop over). Each is ended with `signal` when
// one is given; true when any is there.
static bool childrenLeft(const Check *check, int signal)
{
	bool left = childrenOf(watcherId(), signal);
	return (check->starter != watcherId() && childrenOf(check->starter, signal)) || left;
}

// Whether a process of the check's group, or one it left behind, is
// left: its zombies, ours, are collected by then.
static bool groupLeft(const Check *check)
{
	return kill(-check->pid, 0) == 0 || errno == EPERM || childrenLeft(check, 0);
}

// Everything of ours that has ended is collected (with a subreaper, what
// checks left behind is ours); the check has ended once its own process
// has and nothing of its group is left. What is left is ended with it,
// so that checks never pile up: it cannot outlast the check unless the
// kernel holds it.
static void reapChildren(Check *check)
{
	int status;
	pid_t pid;
	while ((pid = waitpid(-1, &status, WNOHANG)) > 0 || (pid < 0 && errno == EINTR)) {
		if (pid < 0)
			continue;
		if (!check || pid != check->pid)
			continue;
		check->exited = true;
		check->outcome.exited = WIFEXITED(status);
		check->outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : WTERMSIG(status);
		// What it wrote before it ended is in the pipe; what others of it
		// may write later is not waited for.
		if (check->output >= 0) {
			readOutput(check);
			if (check->output >= 0) {
				close(check->output);
				check->output = -1;
			}
		}
	}
	// What is left is ended; its ends wake the watcher again.
	if (check && check->exited && !check->ended) {
		// No child at all: with the watcher a subreaper, nothing the check
		// started is left anywhere, and nothing more is looked for.
		bool childless = subreaper && pid < 0 && errno == ECHILD;
		check->ended = childless || !groupLeft(check);
		if (!check->ended) {
			kill(-check->pid, SIGKILL);
			childrenLeft(check, SIGKILL);
		}
	}
}

void collectCheckEnd(Check *check)
{
	if (check && !check->ended)
		reapChildren(check);
}

void releaseCheck(Check *check)
{
	// Whatever it started ends with it, in its group or left behind; one
	// that has ended has left nothing.
	if (!check->ended) {
		kill(-check->pid, SIGKILL);
		childrenLeft(check, SIGKILL);
	}
	if (check->output >= 0)
		close(check->output);
	free(check);
}

WatchedProcess *watchProcess(long pid)
{
	if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
		return nullptr;
	WatchedProcess *process = static_cast<WatchedProcess *>(calloc(1, sizeof(WatchedProcess)));
	if (!process)
		return nullptr;
	process->pid = pid;
	process->fd = static_cast<int>(syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
	if (process->fd >= 0)
		fcntl(process->fd, F_SETFD, FD_CLOEXEC);
	return process;
}

bool processGone(WatchedProcess *process)
{
	// Without a pidfd, the process is looked for at each wake.
	if (process->fd < 0 && !process->gone)
		process->gone = kill(static_cast<pid_t>(process->pid), 0) != 0 && errno == ESRCH;
	return process->gone;
}

Woken waitForEvents(int64_t deadlineNs, Check *check, WatchedProcess *process)
{
	// A wake before the deadline (a worker's answer, say) leaves the timer
	// as it is set.
	if (deadlineNs != armedFor) {
		struct itimerspec at = {};
		at.it_value.tv_sec = deadlineNs / 1000000000;
		at.it_value.tv_nsec = deadlineNs % 1000000000;
		if (at.it_value.tv_sec == 0 && at.it_value.tv_nsec == 0)
			at.it_value.tv_nsec = 1;  // zero would disarm it
		timerfd_settime(timer, TFD_TIMER_ABSTIME, &at, nullptr);
		armedFor = deadlineNs;
	}
	for (;;) {
		struct pollfd fds[5] = {
			{requestPipe[0], POLLIN, 0},
			{timer, POLLIN, 0},
			{check ? check->output : -1, POLLIN, 0},
			{process ? process->fd : -1, POLLIN, 0},
			{signalled, POLLIN, 0},
		};
		if (poll(fds, 5, -1) < 0) {
			if (errno == EINTR)
				continue;
			return Woken{wokeByDeadline, 0};
		}
		Woken woke = {0, 0};
		if (check && fds[2].revents)
			readOutput(check);
		// Read when the wait saw them ready: a request or an end that comes
		// just after is heard at the next wait, at once; a check's end that
		// comes as its deadline does is collected before the deadline is
		// judged (collectCheckEnd).
		{
			char requests[64];
			ssize_t n = fds[0].revents ? static_cast<ssize_t>(sizeof requests) : 0;
			// A short read has emptied it.
			while (n == static_cast<ssize_t>(sizeof requests) && (n = read(requestPipe[0], requests, sizeof requests)) > 0) {
				for (ssize_t i = 0; i < n; i++) {
					if (requests[i] == 'W')
						woke.events |= wokeByWorker;
				}
			}
			// The check's output closing is its end as often as not.
			struct signalfd_siginfo heard[8];
			bool childChanged = false;
			ssize_t got;
			while ((fds[4].revents || fds[2].revents) && (got = read(signalled, heard, sizeof heard)) > 0) {
				for (size_t i = 0; i < static_cast<size_t>(got) / sizeof heard[0]; i++) {
					int sig = static_cast<int>(heard[i].ssi_signo);
					if (sig == SIGCHLD) {
						childChanged = true;
					} else if (sig == SIGTERM || sig == SIGINT) {
						woke.events |= wokeByStop;
						woke.stops++;
					} else if (sig == SIGHUP) {
						woke.events |= wokeByReload;
					} else if (sig == SIGUSR1) {
						woke.events |= wokeByReport;
					}
				}
			}
			// What ended is collected whether or not a check runs: what a
			// check left behind, or what the library started, is ours. Only
			// once a child has ended (SIGCHLD, read above before anything is
			// collected, so none is missed), or while a check that has
			// ended waits for the rest of its group, which is looked for.
			if ((childChanged || (check && check->exited)) && (!check || !check->ended)) {
				reapChildren(check);
				if (check && check->ended)
					woke.events |= wokeByCheck;
			}
		}
		if (fds[1].revents) {
			uint64_t expirations;
			ssize_t ignored = read(timer, &expirations, sizeof expirations);
			(void)ignored;
			woke.events |= wokeByDeadline;
			armedFor = -1;
		}
		if (process && fds[3].revents && !process->gone) {
			process->gone = true;
			woke.events |= wokeByProcess;
		}
		if (bootClockNs() >= deadlineNs)
			woke.events |= wokeByDeadline;
		if (woke.events)
			return woke;
	}
}

