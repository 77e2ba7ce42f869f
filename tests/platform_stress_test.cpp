// The simulated platform shared by many processes at once, and by processes
// killed at any moment. Each test is bounded: a fixed number of operations
// or kills, and every wait has a deadline.
#include "support/run_program.h"

#include "sim_state.h"
#include "sim_store.h"

#include <corvane-pulsewarden.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

class PlatformStress : public testing::Test {
protected:
	void SetUp() override
	{
		dir = makeTempDir("stress");
		setenv("CORVANE_SIM_STATE_DIR", (dir + "/state").c_str(), 1);
	}
	void TearDown() override
	{
		unsetenv("CORVANE_SIM_STATE_DIR");
		removeTree(dir);
	}
	std::string dir;
};

// Waits for a child with a deadline; its exit code, or -1.
int reap(pid_t pid, int seconds = 60)
{
	for (int waited = 0; waited < seconds * 1000; waited++) {
		int status;
		if (waitpid(pid, &status, WNOHANG) == pid)
			return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
		usleep(1000);
	}
	kill(pid, SIGKILL);
	waitpid(pid, nullptr, 0);
	return -1;
}

// Watches the state until `stop` closes; exits with the number of torn
// states and lost heartbeats seen (a heartbeat that goes back in time was
// overwritten by a change that read the state before it).
[[noreturn]] void watchState(int stop)
{
	int violations = 0;
	long reads = 0;
	int64_t lastHeartbeat = -1;
	char byte;
	while (read(stop, &byte, 1) < 0 && errno == EAGAIN) {
		SimState s;
		Reason why;
		reads++;
		if (readSavedState(&s, &why) != stateRead || !s.enabled || s.posted == postedNeedReset) {
			violations++;
			continue;
		}
		if (s.hasHeartbeat ? s.heartbeatNs < lastHeartbeat : lastHeartbeat >= 0)
			violations++;
		if (s.hasHeartbeat)
			lastHeartbeat = s.heartbeatNs;
	}
	fprintf(stderr, "watcher: %ld reads\n", reads);
	_exit(violations > 100 ? 100 : violations);
}

// One worker's mixed operations; the number that failed.
int work(int worker, int operations)
{
	int failures = 0;
	bool beaten = false;
	for (int i = 0; i < operations; i++) {
		switch ((worker + i) % 4) {
		case 0:
			failures += Tendwell_MarkActive() != TENDWELL_OK;
			beaten = true;
			break;
		case 1:
			failures += Tendwell_PostAppState(TENDWELL_APP_STATE_OK) != TENDWELL_OK;
			break;
		case 2:
			failures += Tendwell_IsEnabled() != 1;
			break;
		case 3: {
			char *status = Tendwell_GetAppStatus();
			// Green once this worker's own heartbeat is in: none is lost.
			bool green = status && strcmp(status, "green") == 0;
			bool gray = status && strcmp(status, "gray") == 0;
			failures += !(green || (gray && !beaten));
			Tendwell_Free(status);
			break;
		}
		}
	}
	return failures;
}

TEST_F(PlatformStress, ManyThreadsAtOnceAllSucceed)
{
	ASSERT_EQ(Tendwell_Enable(), TENDWELL_OK);
	std::atomic<int> failures{0};
	std::vector<std::thread> threads;
	for (int t = 0; t < 8; t++)
		threads.emplace_back([&failures, t] { failures += work(t, 150); });
	for (std::thread &t : threads)
		t.join();
	EXPECT_EQ(failures.load(), 0);
}

TEST_F(PlatformStress, ManyProcessesAtOnceNeverTearOrLoseTheState)
{
	const int workers = 8, operations = 500;
	ASSERT_EQ(Tendwell_Enable(), TENDWELL_OK);

	int stop[2];
	ASSERT_EQ(pipe2(stop, O_NONBLOCK), 0);
	pid_t watcher = fork();
	if (watcher == 0) {
		close(stop[1]);
		watchState(stop[0]);
	}
	close(stop[0]);
	std::vector<pid_t> pids;
	for (int w = 0; w < workers; w++) {
		pid_t pid = fork();
		if (pid == 0)
			_exit(std::min(work(w, operations), 100));
		pids.push_back(pid);
	}
	int failures = 0;
	for (pid_t pid : pids)
		failures += reap(pid);
	close(stop[1]);
	EXPECT_EQ(failures, 0) << "operations that failed or saw a lost heartbeat";
	EXPECT_EQ(reap(watcher), 0) << "torn states or heartbeats gone back in time";
	printf("%d processes x %d operations, %d failed\n", workers, operations, failures);

	char *status = Tendwell_GetAppStatus();
	EXPECT_STREQ(status, "green");
	Tendwell_Free(status);
}

TEST_F(PlatformStress, ProcessKilledAtAnyMomentLeavesAWholeStateAndNoLock)
{
	const int kills = 300;
	ASSERT_EQ(Tendwell_Enable(), TENDWELL_OK);
	std::mt19937 random(20261207);
	int damaged = 0, blocked = 0;
	for (int k = 0; k < kills; k++) {
		pid_t pid = fork();
		if (pid == 0) {
			for (unsigned i = 0;; i++) {
				switch (i % 5) {
				case 0: Tendwell_MarkActive(); break;
				case 1: Tendwell_PostAppState(TENDWELL_APP_STATE_NEED_RESET); break;
				case 2: Tendwell_PostAppState(TENDWELL_APP_STATE_OK); break;
				case 3: Tendwell_Disable(); break;
				case 4: Tendwell_Enable(); break;
				}
			}
		}
		usleep(std::uniform_int_distribution<unsigned>(0, 3000)(random));
		kill(pid, SIGKILL);
		waitpid(pid, nullptr, 0);

		SimState state;
		Reason why;
		damaged += readSavedState(&state, &why) != stateRead;
		// A lock left behind would make the next change fail after its wait.
		blocked += Tendwell_Enable() != TENDWELL_OK;
	}
	EXPECT_EQ(damaged, 0);
	EXPECT_EQ(blocked, 0);
	printf("%d kills, %d damaged states, %d blocked changes\n", kills, damaged, blocked);
}

} // namespace
