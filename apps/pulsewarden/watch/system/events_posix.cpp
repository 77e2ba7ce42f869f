// Linux. A check is started in a process group of its own, with every
// signal at its default and none blocked; its group is what a timeout or a
// stop ends. Its own process gets the parent-death signal: a watcher
// killed outright (SIGKILL) takes it along. One poll() waits for exactly what can happen: the schedule's
// timer (a timerfd on the boot-time clock, which counts a suspended
// machine's sleep), the check's output, a signal (through a self-pipe),
// the watched process's end (a pidfd).
#include "watch_system.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/timerfd.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

struct Check {
	pid_t pid;          // also its process group
	int output;         // the pipe's reading end; -1 once closed
	bool ended;
	CheckOutcome outcome;
	FirstLine line;
};

struct WatchedProcess {
	long pid;
	int fd;             // a pidfd; -1 where the kernel has none
	bool gone;
};

static int requestPipe[2] = {-1, -1};  // written by the signal handlers
static int timer = -1;
static volatile sig_atomic_t stopRequests;
static volatile sig_atomic_t runningGroup; // for the second stop request

static void onSignal(int sig)
{
	int saved = errno;
	char what = 'C';
	if (sig == SIGTERM || sig == SIGINT) {
		stopRequests = stopRequests + 1;
		if (stopRequests > 1) {
			// Asked twice: at once, and the check with us.
			if (runningGroup > 0)
				kill(-runningGroup, SIGKILL);
			signal(sig, SIG_DFL);
			raise(sig);
		}
		what = 'S';
	} else if (sig == SIGHUP) {
		what = 'H';
	}
	ssize_t ignored = write(requestPipe[1], &what, 1);
	(void)ignored;
	errno = saved;
}

struct Worker {
	pthread_mutex_t lock;
	pthread_cond_t asked;
	bool pending;
	void (*work)(void *);
	void *argument;
};

static void *workerMain(void *started)
{
	Worker *worker = static_cast<Worker *>(started);
	for (;;) {
		pthread_mutex_lock(&worker->lock);
		while (!worker->pending)
			pthread_cond_wait(&worker->asked, &worker->lock);
		worker->pending = false;
		pthread_mutex_unlock(&worker->lock);
		worker->work(worker->argument);
	}
	return nullptr;
}

Worker *startWorker(void (*work)(void *), void *argument, char *why, size_t size)
{
	Worker *worker = static_cast<Worker *>(calloc(1, sizeof(Worker)));
	if (!worker) {
		snprintf(why, size, "cannot start a thread: %s", strerror(ENOMEM));
		return nullptr;
	}
	pthread_mutex_init(&worker->lock, nullptr);
	pthread_cond_init(&worker->asked, nullptr);
	worker->work = work;
	worker->argument = argument;
	// Signals are the watcher's thread's to handle.
	sigset_t all;
	sigset_t before;
	sigfillset(&all);
	pthread_sigmask(SIG_SETMASK, &all, &before);
	pthread_attr_t attributes;
	pthread_attr_init(&attributes);
	pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
	pthread_t thread;
	int error = pthread_create(&thread, &attributes, workerMain, worker);
	pthread_attr_destroy(&attributes);
	pthread_sigmask(SIG_SETMASK, &before, nullptr);
	if (error != 0) {
		free(worker);
		snprintf(why, size, "cannot start a thread: %s", strerror(error));
		return nullptr;
	}
	return worker;
}

void askWorker(Worker *worker)
{
	pthread_mutex_lock(&worker->lock);
	worker->pending = true;
	pthread_mutex_unlock(&worker->lock);
	// Woken after the lock is let go, it does not wait for it.
	pthread_cond_signal(&worker->asked);
}

void endAtOnce(int status)
{
	fflush(nullptr);
	_exit(status);
}

void wakeWatcher()
{
	char what = 'P';
	ssize_t ignored = write(requestPipe[1], &what, 1);
	(void)ignored;
}

bool catchRequests(char *why, size_t size)
{
	timer = timerfd_create(CLOCK_BOOTTIME, TFD_CLOEXEC | TFD_NONBLOCK);
	if (timer < 0 || pipe2(requestPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
		snprintf(why, size, "cannot wait for events: %s", strerror(errno));
		return false;
	}
	struct sigaction action = {};
	action.sa_handler = onSignal;
	action.sa_flags = SA_RESTART;
	sigemptyset(&action.sa_mask);
	const int caught[] = {SIGTERM, SIGINT, SIGHUP, SIGCHLD};
	for (int sig : caught)
		sigaction(sig, &action, nullptr);
	return true;
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

// A script's "#!" interpreter, which the kernel needs as much as the
// script: a missing one fails every start with the script's own name.
static bool interpreterUsable(const char *script, char *why, size_t size)
{
	int fd = open(script, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
	if (fd < 0)
		return true;  // what exec makes of it is said when it runs
	char head[256];
	ssize_t n = read(fd, head, sizeof head - 1);
	close(fd);
	if (n < 2 || head[0] != '#' || head[1] != '!')
		return true;
	head[n] = '\0';
	char *name = head + 2 + strspn(head + 2, " \t");
	name[strcspn(name, " \t\r\n")] = '\0';
	int error = ENOENT;
	if (*name && executableFile(name, &error))
		return true;
	snprintf(why, size, "%s: its interpreter %s: %s", script, *name ? name : "(none)",
		error == ENOENT ? "not found" : strerror(error));
	return false;
}

bool checkProgramUsable(const char *program, char *why, size_t size)
{
	int error = ENOENT;
	if (!*program) {
		snprintf(why, size, "an empty name");
		return false;
	}
	if (strchr(program, '/')) {
		if (executableFile(program, &error))
			return interpreterUsable(program, why, size);
	} else {
		// As execvpe() will look for it.
		const char *path = getenv("PATH");
		if (!path || !*path)
			path = "/bin:/usr/bin";
		for (const char *dir = path;; dir = strchr(dir, ':') + 1) {
			size_t length = strcspn(dir, ":");
			char candidate[4096];
			int n = snprintf(candidate, sizeof candidate, "%.*s%s%s", static_cast<int>(length), dir,
				length ? "/" : "", program);
			int found = ENOENT;
			if (n > 0 && static_cast<size_t>(n) < sizeof candidate && executableFile(candidate, &found))
				return interpreterUsable(candidate, why, size);
			if (found != ENOENT && found != ENOTDIR)
				error = found;  // found, but not usable: say why
			if (!dir[length])
				break;
		}
	}
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

// The child's side of startCheck: never returns.
[[noreturn]] static void becomeCheck(char *const *argv, char **env, pid_t watcher, int output, int report)
{
	setpgid(0, 0);
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
	int error = 0;
	if (null < 0 || dup2(null, STDIN_FILENO) < 0 || dup2(output, STDOUT_FILENO) < 0
		|| dup2(output, STDERR_FILENO) < 0 || dup3(report, STDERR_FILENO + 1, O_CLOEXEC) < 0)
		error = errno;
	// Not one descriptor of ours, whatever our parent left open; the
	// report closes itself on exec.
	if (!error && close_range(STDERR_FILENO + 2, ~0U, 0) != 0)
		error = errno;
	if (!error) {
		execvpe(argv[0], argv, env);
		error = errno;
	}
	ssize_t ignored = write(STDERR_FILENO + 1, &error, sizeof error);
	(void)ignored;
	_exit(127);
}

Check *startCheck(char *const *argv, char *why, size_t size)
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
		pid_t watcher = getpid();
		pid = fork();
		if (pid == 0)
			becomeCheck(argv, env, watcher, pipeEnds[1], report[1]);
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
	runningGroup = pid;
	return check;
}

void stopCheck(Check *check, bool force)
{
	kill(-check->pid, force ? SIGKILL : SIGTERM);
}

bool checkEnded(const Check *check, CheckOutcome *outcome)
{
	if (check->ended)
		*outcome = check->outcome;
	return check->ended;
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

static void reapChildren(Check *check)
{
	int status;
	pid_t pid;
	while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
		if (!check || pid != check->pid)
			continue;
		check->ended = true;
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
}

void finishCheck(Check *check)
{
	// Whatever it started in its group ends with it.
	kill(-check->pid, SIGKILL);
	runningGroup = 0;
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

unsigned waitForEvents(int64_t deadlineNs, Check *check, WatchedProcess *process)
{
	struct itimerspec at = {};
	at.it_value.tv_sec = deadlineNs / 1000000000;
	at.it_value.tv_nsec = deadlineNs % 1000000000;
	if (at.it_value.tv_sec == 0 && at.it_value.tv_nsec == 0)
		at.it_value.tv_nsec = 1;  // zero would disarm it
	timerfd_settime(timer, TFD_TIMER_ABSTIME, &at, nullptr);
	for (;;) {
		struct pollfd fds[4] = {
			{requestPipe[0], POLLIN, 0},
			{timer, POLLIN, 0},
			{check ? check->output : -1, POLLIN, 0},
			{process ? process->fd : -1, POLLIN, 0},
		};
		// A signal that interrupts the wait has written to the pipe: asked
		// again, which says at once what it was (the check's end, say),
		// before any deadline is judged.
		if (poll(fds, 4, -1) < 0) {
			if (errno == EINTR)
				continue;
			return wokeByDeadline;
		}
		unsigned woke = 0;
		if (check && fds[2].revents)
			readOutput(check);
		// Whatever the signals said, and whatever ended, is collected every
		// time, not only when the pipe was seen ready: a signal handled just
		// after the wait returned for the timer must not leave a check's end
		// for after its deadline is judged.
		{
			char requests[64];
			ssize_t n = static_cast<ssize_t>(sizeof requests);
			// A short read has emptied it.
			while (n == static_cast<ssize_t>(sizeof requests) && (n = read(requestPipe[0], requests, sizeof requests)) > 0) {
				for (ssize_t i = 0; i < n; i++) {
					if (requests[i] == 'S')
						woke |= wokeByStop;
					else if (requests[i] == 'H')
						woke |= wokeByReport;
					else if (requests[i] == 'P')
						woke |= wokeByProbe;
				}
			}
			// Without a check running, nothing of ours is there to collect.
			if (check && !check->ended) {
				reapChildren(check);
				if (check->ended)
					woke |= wokeByCheck;
			}
		}
		if (fds[1].revents) {
			uint64_t expirations;
			ssize_t ignored = read(timer, &expirations, sizeof expirations);
			(void)ignored;
			woke |= wokeByDeadline;
		}
		if (process && fds[3].revents && !process->gone) {
			process->gone = true;
			woke |= wokeByProcess;
		}
		if (bootClockNs() >= deadlineNs)
			woke |= wokeByDeadline;
		if (woke)
			return woke;
	}
}

void notifyServiceManager(const char *message)
{
	const char *socketPath = getenv("NOTIFY_SOCKET");
	if (!socketPath || (socketPath[0] != '/' && socketPath[0] != '@'))
		return;
	struct sockaddr_un address = {};
	address.sun_family = AF_UNIX;
	size_t length = strlen(socketPath);
	if (length >= sizeof address.sun_path)
		return;
	memcpy(address.sun_path, socketPath, length);
	if (address.sun_path[0] == '@')
		address.sun_path[0] = '\0';  // the abstract namespace
	int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
	if (fd < 0)
		return;
	sendto(fd, message, strlen(message), MSG_NOSIGNAL, reinterpret_cast<struct sockaddr *>(&address),
		static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + length));
	close(fd);
}

int64_t serviceWatchdogNs()
{
	const char *usec = getenv("WATCHDOG_USEC");
	const char *pid = getenv("WATCHDOG_PID");
	if (!usec || !*usec || (pid && *pid && strtol(pid, nullptr, 10) != static_cast<long>(getpid())))
		return 0;
	char *end;
	unsigned long long value = strtoull(usec, &end, 10);
	// Microseconds; nonsense, or more than a day, is no watchdog to keep.
	if (*end || value == 0 || value > 86400ULL * 1000000)
		return 0;
	return static_cast<int64_t>(value) * 1000;
}

bool stderrIsJournal()
{
	const char *stream = getenv("JOURNAL_STREAM");
	if (!stream)
		return false;
	char *colon;
	unsigned long long device = strtoull(stream, &colon, 10);
	char *end;
	unsigned long long inode = *colon == ':' ? strtoull(colon + 1, &end, 10) : 0;
	struct stat st;
	return *colon == ':' && colon != stream && *end == '\0' && end != colon + 1
		&& fstat(STDERR_FILENO, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

// systemd's journal takes stderr as it is.
bool logToServiceManager(int /*priority*/, const char * /*line*/)
{
	return false;
}

double unixTimeS()
{
	struct timespec now;
	clock_gettime(CLOCK_REALTIME, &now);
	return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

static bool temporaryBeside(const char *path, char *temporary, size_t size)
{
	int n = snprintf(temporary, size, "%s.tmp", path);
	if (n < 0 || static_cast<size_t>(n) >= size) {
		errno = ENAMETOOLONG;
		return false;
	}
	return true;
}

// A fresh file of ours: never one another user put there, nor a link.
static int createBeside(const char *path, char *temporary, size_t size)
{
	if (!temporaryBeside(path, temporary, size))
		return -1;
	unlink(temporary);
	return open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
}

static bool sayErrno(char *why, size_t size)
{
	snprintf(why, size, "%s", strerror(errno));
	return false;
}

bool replaceFile(const char *path, const char *text, size_t length, char *why, size_t size)
{
	char temporary[PATH_MAX];
	int fd = createBeside(path, temporary, sizeof temporary);
	if (fd < 0)
		return sayErrno(why, size);
	bool written = fchmod(fd, 0644) == 0;  // whatever the umask: the collector reads it
	for (size_t at = 0; written && at < length;) {
		ssize_t n = write(fd, text + at, length - at);
		if (n < 0 && errno == EINTR)
			continue;
		written = n > 0;
		at += written ? static_cast<size_t>(n) : 0;
	}
	int error = errno;
	if (close(fd) != 0 && written) {
		written = false;
		error = errno;
	}
	if (written && rename(temporary, path) == 0)
		return true;
	if (written)
		error = errno;
	unlink(temporary);
	errno = error;
	return sayErrno(why, size);
}

bool canReplaceFile(const char *path, char *why, size_t size)
{
	struct stat st;
	if (stat(path, &st) == 0 && S_ISDIR(st.st_mode)) {
		errno = EISDIR;
		return sayErrno(why, size);
	}
	char temporary[PATH_MAX];
	int fd = createBeside(path, temporary, sizeof temporary);
	if (fd < 0)
		return sayErrno(why, size);
	close(fd);
	unlink(temporary);
	return true;
}

void removeFile(const char *path)
{
	unlink(path);
}
