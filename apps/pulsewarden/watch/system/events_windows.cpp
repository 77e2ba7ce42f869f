// Windows. A check runs in a job object of its own, which holds everything
// it starts: ending the job ends them all. Its output comes through a named
// pipe read with overlapped I/O, so that one WaitForMultipleObjects waits
// for exactly what can happen: the schedule's deadline, the check's end or
// output, a request to stop (a console control event, or the service
// control manager's), a worker's wake, the watched process's end. Windows
// has no SIGHUP.
#include "events.h"

#include "system.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

struct Check {
	HANDLE process;
	HANDLE job;
	DWORD pid;
	HANDLE output;        // our end of the pipe; null once closed
	HANDLE readDone;      // signalled when the pending read completes
	OVERLAPPED read;
	char chunk[4096];
	bool ended;
	CheckOutcome outcome;
	FirstLine line;
};

struct WatchedProcess {
	HANDLE process;
	bool gone;
};

static HANDLE stopEvent;
static HANDLE workerEvent;   // a worker's run ended
static volatile LONG stopRequests;  // since the last wait
static volatile LONG reloadRequests;
static bool withConsole;

static BOOL WINAPI onControl(DWORD event)
{
	InterlockedIncrement(&stopRequests);
	SetEvent(stopEvent);
	// For these the system ends the process when the handler returns:
	// the main thread's orderly stop ends it first.
	if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
		Sleep(INFINITE);
	return TRUE;
}

static void sayLastError(char *why, size_t size, const char *what)
{
	char words[160];
	lastErrorText(words, sizeof words);
	snprintf(why, size, "%s: %s", what, words);
}

bool catchRequests(bool console, char *why, size_t size)
{
	stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
	workerEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
	withConsole = console;
	// A service has no console of its own: a user logging off must not
	// stop it, and its stop comes from the service control manager.
	if (!stopEvent || !workerEvent || (console && !SetConsoleCtrlHandler(onControl, TRUE))) {
		sayLastError(why, size, "cannot wait for events");
		return false;
	}
	return true;
}

void requestStop()
{
	// The service accepts a stop only once it runs, after catchRequests
	// has made the event.
	if (stopEvent) {
		InterlockedIncrement(&stopRequests);
		SetEvent(stopEvent);
	}
}

void requestReload()
{
	if (workerEvent) {
		InterlockedExchange(&reloadRequests, 1);
		SetEvent(workerEvent);
	}
}

void wakeWatcher()
{
	SetEvent(workerEvent);
}

bool findCheckProgram(const char *program, char *path, size_t size)
{
	DWORD n = SearchPathA(nullptr, program, ".exe", static_cast<DWORD>(size), path, nullptr);
	return n > 0 && n < size;
}

bool checkProgramUsable(const char *program, char *why, size_t size)
{
	if (!*program) {
		snprintf(why, size, "an empty name");
		return false;
	}
	char found[MAX_PATH];
	if (!findCheckProgram(program, found, sizeof found)) {
		snprintf(why, size, "%s: not found", program);
		return false;
	}
	DWORD attributes = GetFileAttributesA(found);
	if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
		snprintf(why, size, "%s: not a program", program);
		return false;
	}
	return true;
}

static void startRead(Check *check)
{
	for (;;) {
		ResetEvent(check->readDone);
		memset(&check->read, 0, sizeof check->read);
		check->read.hEvent = check->readDone;
		DWORD n = 0;
		if (ReadFile(check->output, check->chunk, sizeof check->chunk, &n, &check->read)) {
			// Done at once: take it, and read again.
			keepFirstLine(&check->outcome, &check->line, check->chunk, n);
			continue;
		}
		if (GetLastError() != ERROR_IO_PENDING) {
			CloseHandle(check->output);
			check->output = nullptr;
		}
		return;
	}
}

// The pending read cancelled, whichever thread started it (the loop moves
// to the standby's thread when a call into the library hangs), and waited
// for: its buffer is the check's, freed after.
static void stopReading(Check *check)
{
	if (!check->output)
		return;
	DWORD n = 0;
	if (CancelIoEx(check->output, &check->read) || GetLastError() != ERROR_NOT_FOUND)
		GetOverlappedResult(check->output, &check->read, &n, TRUE);
	CloseHandle(check->output);
	check->output = nullptr;
}

// Takes what the pending read brought, and starts the next one.
static void readDone(Check *check)
{
	DWORD n = 0;
	if (!GetOverlappedResult(check->output, &check->read, &n, FALSE)) {
		CloseHandle(check->output);
		check->output = nullptr;
		return;
	}
	keepFirstLine(&check->outcome, &check->line, check->chunk, n);
	startRead(check);
}

Check *spawnCheck(char *const *argv, const CheckUser * /*user*/, char *why, size_t size)
{
	char commandLine[32768] = "";
	size_t at = 0;
	for (char *const *arg = argv; *arg; arg++) {
		if (!appendArgument(commandLine, sizeof commandLine, &at, *arg)) {
			snprintf(why, size, "cannot start the check: its command line is too long");
			return nullptr;
		}
	}
	static LONG pipes;
	char pipeName[96];
	snprintf(pipeName, sizeof pipeName, "\\\\.\\pipe\\pulsewarden-watch-%lu-%ld",
		static_cast<unsigned long>(GetCurrentProcessId()), InterlockedIncrement(&pipes));
	SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
	Check *check = static_cast<Check *>(calloc(1, sizeof(Check)));
	if (!check) {
		snprintf(why, size, "cannot start the check: out of memory");
		return nullptr;
	}
	check->output = CreateNamedPipeA(pipeName, PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
		PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
	HANDLE writeEnd = CreateFileA(pipeName, GENERIC_WRITE, 0, &inherited, OPEN_EXISTING, 0, nullptr);
	HANDLE nul = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0,
		nullptr);
	check->readDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
	check->job = CreateJobObjectA(nullptr, nullptr);
	bool ready = check->output != INVALID_HANDLE_VALUE && writeEnd != INVALID_HANDLE_VALUE
		&& nul != INVALID_HANDLE_VALUE && check->readDone && check->job;
	if (ready) {
		// Closing the job ends all it holds.
		JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
		limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
		SetInformationJobObject(check->job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
	}

	// Exactly these three handles are inherited, nothing else of ours.
	HANDLE handles[3] = {nul, writeEnd, writeEnd};
	SIZE_T listSize = 0;
	InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
	LPPROC_THREAD_ATTRIBUTE_LIST list = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(malloc(listSize));
	ready = ready && list && InitializeProcThreadAttributeList(list, 1, 0, &listSize)
		&& UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles, 2 * sizeof(HANDLE),
			nullptr, nullptr);
	STARTUPINFOEXA startup = {};
	startup.StartupInfo.cb = sizeof startup;
	startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
	startup.StartupInfo.hStdInput = nul;
	startup.StartupInfo.hStdOutput = writeEnd;
	startup.StartupInfo.hStdError = writeEnd;
	startup.lpAttributeList = list;
	PROCESS_INFORMATION info = {};
	// Its own process group: the console's Ctrl-C is the watcher's to act
	// on. A service's check needs no console window of its own.
	DWORD flags = CREATE_SUSPENDED | CREATE_NEW_PROCESS_GROUP | EXTENDED_STARTUPINFO_PRESENT
		| (withConsole ? 0 : CREATE_NO_WINDOW);
	bool started = ready && CreateProcessA(nullptr, commandLine, nullptr, nullptr, TRUE, flags, nullptr, nullptr,
		&startup.StartupInfo, &info);
	if (!started)
		sayLastError(why, size, "cannot start the check");
	if (list) {
		if (ready)
			DeleteProcThreadAttributeList(list);
		free(list);
	}
	if (writeEnd != INVALID_HANDLE_VALUE)
		CloseHandle(writeEnd);
	if (nul != INVALID_HANDLE_VALUE)
		CloseHandle(nul);
	if (started && !AssignProcessToJobObject(check->job, info.hProcess)) {
		sayLastError(why, size, "cannot start the check");
		TerminateProcess(info.hProcess, 1);
		started = false;
	}
	if (!started) {
		if (info.hProcess) {
			CloseHandle(info.hProcess);
			CloseHandle(info.hThread);
		}
		if (check->output != INVALID_HANDLE_VALUE)
			CloseHandle(check->output);
		if (check->readDone)
			CloseHandle(check->readDone);
		if (check->job)
			CloseHandle(check->job);
		free(check);
		return nullptr;
	}
	ResumeThread(info.hThread);
	CloseHandle(info.hThread);
	check->process = info.hProcess;
	check->pid = info.dwProcessId;
	startRead(check);
	return check;
}

void signalCheck(Check *check, bool force)
{
	// A console program in its own group can be asked with Ctrl-Break;
	// anything else is ended.
	if (force || !GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, check->pid))
		TerminateJobObject(check->job, 1);
}

bool checkExited(const Check *check, CheckOutcome *outcome)
{
	if (check->ended)
		*outcome = check->outcome;
	return check->ended;
}

// A Windows process always exits, with a code; an exception is one too.
// Windows keeps no such figure for a process.
int64_t checkWaitedNs(const Check * /*check*/)
{
	return 0;
}

void describeKill(int signal, char *text, size_t size)
{
	snprintf(text, size, "ended by exception %d", signal);
}

static void noteEnd(Check *check)
{
	DWORD code = 1;
	GetExitCodeProcess(check->process, &code);
	check->ended = true;
	check->outcome.exited = true;
	check->outcome.status = static_cast<int>(code);
	// What it wrote before it ended; what others of it may write later is
	// not waited for.
	while (check->output && WaitForSingleObject(check->readDone, 0) == WAIT_OBJECT_0)
		readDone(check);
	stopReading(check);
}

void collectCheckEnd(Check *check)
{
	if (check && !check->ended && WaitForSingleObject(check->process, 0) == WAIT_OBJECT_0)
		noteEnd(check);
}

void releaseCheck(Check *check)
{
	// Whatever it started ends with it.
	TerminateJobObject(check->job, 1);
	stopReading(check);
	CloseHandle(check->readDone);
	CloseHandle(check->process);
	CloseHandle(check->job);
	free(check);
}

WatchedProcess *watchProcess(long pid)
{
	HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
	if (!process)
		return nullptr;
	if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0) {
		CloseHandle(process);
		return nullptr;
	}
	WatchedProcess *watched = static_cast<WatchedProcess *>(calloc(1, sizeof(WatchedProcess)));
	if (!watched) {
		CloseHandle(process);
		return nullptr;
	}
	watched->process = process;
	return watched;
}

bool processGone(WatchedProcess *process)
{
	return process->gone;
}

Woken waitForEvents(int64_t deadlineNs, Check *check, WatchedProcess *process)
{
	for (;;) {
		HANDLE handles[5];
		DWORD count = 0;
		handles[count++] = stopEvent;
		handles[count++] = workerEvent;
		DWORD checkAt = MAXDWORD, outputAt = MAXDWORD, processAt = MAXDWORD;
		if (check && !check->ended) {
			checkAt = count;
			handles[count++] = check->process;
		}
		if (check && check->output) {
			outputAt = count;
			handles[count++] = check->readDone;
		}
		if (process && !process->gone) {
			processAt = count;
			handles[count++] = process->process;
		}
		int64_t left = deadlineNs - bootClockNs();
		// Capped below INFINITE: a deadline far off is still a deadline.
		int64_t wait = left <= 0 ? 0 : left / 1000000 + 1;
		DWORD ms = static_cast<DWORD>(wait < 0x7fffffff ? wait : 0x7fffffff);
		DWORD result = WaitForMultipleObjects(count, handles, FALSE, ms);
		if (result == WAIT_TIMEOUT || result == WAIT_FAILED)
			return Woken{wokeByDeadline, 0};
		DWORD index = result - WAIT_OBJECT_0;
		if (index == 0) {
			ResetEvent(stopEvent);
			return Woken{wokeByStop, static_cast<int>(InterlockedExchange(&stopRequests, 0))};
		}
		if (index == 1)
			return Woken{InterlockedExchange(&reloadRequests, 0) ? wokeByWorker | wokeByReload : wokeByWorker, 0};
		if (index == outputAt) {
			readDone(check);
			continue;
		}
		if (index == checkAt) {
			noteEnd(check);
			return Woken{wokeByCheck, 0};
		}
		if (index == processAt) {
			process->gone = true;
			return Woken{wokeByProcess, 0};
		}
	}
}

