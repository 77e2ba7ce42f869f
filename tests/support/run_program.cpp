#include "run_program.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

static bool steersLibrary(const char *entry)
{
	static const char *const prefixes[] = {"CORVANE_", "TENDWELL_", "XDG_RUNTIME_DIR=",
		"LD_LIBRARY_PATH=", "LD_PRELOAD=", "PULSEWARDEN_"};
	for (const char *prefix : prefixes)
		if (strncmp(entry, prefix, strlen(prefix)) == 0)
			return true;
	return false;
}

std::vector<std::string> cleanEnvironment()
{
	std::vector<std::string> env;
	for (char **e = environ; *e; e++)
		if (!steersLibrary(*e))
			env.emplace_back(*e);
	return env;
}

static int64_t nowMs()
{
	struct timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

static void setNonBlocking(int fd)
{
	fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// In the child: put the stream on fd as asked. pipeEnd is the child's end
// of the stream's pipe, when there is one.
static void placeStream(int fd, Stream how, int pipeEnd)
{
	switch (how) {
	case Stream::captured:
		dup2(pipeEnd, fd);
		break;
	case Stream::capturedNonBlocking:
		dup2(pipeEnd, fd);
		fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
		break;
	case Stream::closed:
		close(fd);
		break;
	case Stream::devNull:
	case Stream::devFull:
	case Stream::directory: {
		int f = how == Stream::directory ? open("/", O_RDONLY | O_DIRECTORY)
			: open(how == Stream::devNull ? "/dev/null" : "/dev/full", O_RDWR);
		dup2(f, fd);
		close(f);
		break;
	}
	case Stream::brokenPipe: {
		int p[2];
		if (pipe(p) == 0) {
			close(p[0]);
			dup2(p[1], fd);
			close(p[1]);
		}
		break;
	}
	case Stream::intoStdout:
		dup2(STDOUT_FILENO, fd);
		break;
	}
}

// Starts the program with its streams placed as the setup says; the
// parent's ends of the captured ones come back in the Session.
static bool spawn(const std::string &path, const RunSpec &setup, Session *session)
{
	int inPipe[2] = {-1, -1}, outPipe[2] = {-1, -1}, errPipe[2] = {-1, -1};
	bool inPiped = setup.in == Stream::captured || setup.in == Stream::capturedNonBlocking;
	if ((inPiped && pipe2(inPipe, O_CLOEXEC) != 0)
	    || (setup.out == Stream::captured && pipe2(outPipe, O_CLOEXEC) != 0)
	    || (setup.err == Stream::captured && pipe2(errPipe, O_CLOEXEC) != 0))
		return false;

	std::vector<std::string> env = cleanEnvironment();
	for (const std::string &entry : setup.env) {
		std::string name = entry.substr(0, entry.find('=') + 1);
		std::erase_if(env, [&](const std::string &e) { return e.rfind(name, 0) == 0; });
		env.push_back(entry);
	}
	std::vector<char *> envp;
	for (std::string &e : env)
		envp.push_back(e.data());
	envp.push_back(nullptr);

	std::vector<std::string> args;
	args.emplace_back(setup.invocationName ? setup.invocationName : path);
	args.insert(args.end(), setup.args.begin(), setup.args.end());
	std::vector<char *> argv;
	for (std::string &a : args)
		argv.push_back(a.data());
	argv.push_back(nullptr);

	pid_t pid = fork();
	if (pid == 0) {
		placeStream(STDIN_FILENO, setup.in, inPipe[0]);
		placeStream(STDOUT_FILENO, setup.out, outPipe[1]);
		placeStream(STDERR_FILENO, setup.err, errPipe[1]);
		signal(SIGPIPE, setup.sigpipeIgnored ? SIG_IGN : SIG_DFL);
		execvpe(path.c_str(), argv.data(), envp.data());
		_exit(127);
	}
	for (int fd : {inPipe[0], outPipe[1], errPipe[1]})
		if (fd >= 0)
			close(fd);
	session->pid = pid;
	session->toChild = inPipe[1];
	session->fromOut = outPipe[0];
	session->fromErr = errPipe[0];
	session->deadlineMs = nowMs() + setup.timeoutSeconds * 1000LL;
	return pid > 0;
}

// Moves data until `done` says so, all of `pending` is fed, the streams
// close or the deadline passes; output is collected all the while.
template <typename Done>
static void pump(Session *s, const std::string &pending, Done done)
{
	char chunk[65536];
	size_t fed = 0;
	auto feeding = [&] { return s->toChild >= 0 && fed < pending.size(); };
	while (!done() && (pending.empty() || fed < pending.size())
	       && (feeding() || s->fromOut >= 0 || s->fromErr >= 0)) {
		int64_t left = s->deadlineMs - nowMs();
		if (left <= 0) {
			s->result.timedOut = true;
			kill(s->pid, SIGKILL);
			break;
		}
		struct pollfd fds[3] = {{feeding() ? s->toChild : -1, POLLOUT, 0},
			{s->fromOut, POLLIN, 0}, {s->fromErr, POLLIN, 0}};
		if (poll(fds, 3, static_cast<int>(left)) < 0 && errno != EINTR)
			break;
		if (fds[0].revents) {
			ssize_t n = write(s->toChild, pending.data() + fed, pending.size() - fed);
			if (n > 0)
				fed += static_cast<size_t>(n);
			else if (errno != EAGAIN && errno != EINTR)
				s->closeInput();
		}
		int *sources[2] = {&s->fromOut, &s->fromErr};
		std::string *sinks[2] = {&s->result.out, &s->result.err};
		for (int i = 0; i < 2; i++) {
			if (!fds[i + 1].revents)
				continue;
			ssize_t n = read(*sources[i], chunk, sizeof chunk);
			if (n > 0)
				sinks[i]->append(chunk, static_cast<size_t>(n));
			else if (n == 0 || errno != EINTR) {
				close(*sources[i]);
				*sources[i] = -1;
			}
		}
	}
}

bool Session::start(const std::string &path, const RunSpec &setup)
{
	if (!spawn(path, setup, this))
		return false;
	if (toChild >= 0)
		setNonBlocking(toChild);
	return true;
}

void Session::send(const std::string &text)
{
	if (text.empty())
		return;
	pump(this, text, [] { return false; });
}

bool Session::waitForOutput(const std::string &ending)
{
	auto ends = [&] {
		return result.out.size() >= ending.size()
			&& result.out.compare(result.out.size() - ending.size(), ending.size(), ending) == 0;
	};
	std::string nothing;
	pump(this, nothing, ends);
	return ends();
}

bool Session::waitForText(const std::string &text)
{
	size_t at = std::string::npos;
	auto found = [&] { return (at = result.out.find(text, searchedTo)) != std::string::npos; };
	std::string nothing;
	pump(this, nothing, found);
	if (!found())
		return false;
	searchedTo = at + text.size();
	return true;
}

void Session::closeInput()
{
	if (toChild >= 0)
		close(toChild);
	toChild = -1;
}

RunResult Session::finish()
{
	closeInput();
	std::string nothing;
	pump(this, nothing, [] { return false; });
	for (int fd : {fromOut, fromErr})
		if (fd >= 0)
			close(fd);
	fromOut = fromErr = -1;
	// The outputs can close before the process ends: bound the wait too.
	int wstatus = 0;
	while (waitpid(pid, &wstatus, WNOHANG) == 0) {
		if (nowMs() > deadlineMs) {
			result.timedOut = true;
			kill(pid, SIGKILL);
		}
		usleep(1000);
	}
	reaped = true;
	if (WIFSIGNALED(wstatus)) {
		result.signal = WTERMSIG(wstatus);
		result.status = 128 + result.signal;
	} else {
		result.status = WEXITSTATUS(wstatus);
	}
	return result;
}

Session::~Session()
{
	for (int fd : {toChild, fromOut, fromErr})
		if (fd >= 0)
			close(fd);
	if (pid > 0 && !reaped) {
		kill(pid, SIGKILL);
		waitpid(pid, nullptr, 0);
	}
}

RunResult runProgram(const std::string &path, const RunSpec &setup)
{
	Session session;
	if (!session.start(path, setup))
		return session.result;
	session.send(setup.input);
	return session.finish();
}

std::string makeTempDir(const char *tag)
{
	const char *base = getenv("TMPDIR");
	std::string path = std::string(base && *base ? base : "/tmp") + "/pulsewarden-" + tag + "-XXXXXX";
	if (!mkdtemp(path.data()))
		abort();
	return path;
}

static int removeEntry(const char *path, const struct stat *, int, struct FTW *)
{
	return remove(path);
}

void removeTree(const std::string &path)
{
	nftw(path.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string readFile(const std::string &path)
{
	std::string content;
	FILE *f = fopen(path.c_str(), "rb");
	if (!f)
		return content;
	char chunk[4096];
	size_t n;
	while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
		content.append(chunk, n);
	fclose(f);
	return content;
}

void writeFile(const std::string &path, const std::string &content)
{
	FILE *f = fopen(path.c_str(), "wb");
	if (!f)
		abort();
	fwrite(content.data(), 1, content.size(), f);
	fclose(f);
}
