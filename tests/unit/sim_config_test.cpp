#include "sim_config.h"
#include "sim_state.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

TEST(SimConfig, HeartbeatWindowIsAPositiveNumberOfSeconds)
{
	struct {
		const char *value;
		WindowSetting setting;
		int64_t ns;
	} cases[] = {
		{nullptr, windowUnset, 0}, {"", windowUnset, 0},
		{"5", windowSet, 5 * nsPerSecond}, {"0.5", windowSet, nsPerSecond / 2},
		{"030", windowSet, 30 * nsPerSecond}, {"1.250", windowSet, 1250000000},
		{"0.000000001", windowSet, 1}, {"1000000000", windowSet, maxWindowNs},
		{"0", windowInvalid, 0}, {"0.0", windowInvalid, 0}, {"-1", windowInvalid, 0},
		{"abc", windowInvalid, 0}, {"+2", windowInvalid, 0}, {" 2", windowInvalid, 0},
		{"2 ", windowInvalid, 0}, {"nan", windowInvalid, 0}, {"1e9999", windowInvalid, 0},
		{"5s", windowInvalid, 0}, {".5", windowInvalid, 0}, {"1.", windowInvalid, 0},
		{"0.0000000001", windowInvalid, 0}, {"1000000000.5", windowInvalid, 0},
		{"99999999999999999999999", windowInvalid, 0},
	};
	for (const auto &c : cases) {
		if (c.value)
			setenv("CORVANE_SIM_HEARTBEAT_TIMEOUT", c.value, 1);
		else
			unsetenv("CORVANE_SIM_HEARTBEAT_TIMEOUT");
		int64_t ns = 0;
		EXPECT_EQ(windowFromEnvironment(&ns), c.setting) << (c.value ? c.value : "(unset)");
		if (c.setting == windowSet) {
			EXPECT_EQ(ns, c.ns) << c.value;
		}
	}
	unsetenv("CORVANE_SIM_HEARTBEAT_TIMEOUT");
}

std::string dirFor(const char *stateDir, const char *runtimeDir, const char *home = nullptr)
{
	auto set = [](const char *name, const char *value) {
		if (value)
			setenv(name, value, 1);
		else
			unsetenv(name);
	};
	set("CORVANE_SIM_STATE_DIR", stateDir);
	set("XDG_RUNTIME_DIR", runtimeDir);
	set("HOME", home);
	char path[PATH_MAX];
	bool named;
	Reason why;
	EXPECT_TRUE(stateDirPath(path, sizeof path, &named, &why)) << why.text;
	EXPECT_EQ(named, stateDir && *stateDir);
	return path;
}

TEST(SimConfig, StateDirectoryIsTheSameFromEverySession)
{
	const char *savedRuntime = getenv("XDG_RUNTIME_DIR");
	const char *savedHome = getenv("HOME");
	std::string runtime = savedRuntime ? savedRuntime : "", home = savedHome ? savedHome : "";

	EXPECT_EQ(dirFor("/srv/state", "/run/user/1"), "/srv/state");
	EXPECT_EQ(dirFor("relative/dir", nullptr), "relative/dir");
	// Every spelling of one directory names it, so that a link is seen.
	for (const char *spelling : {"/srv/state/", "/srv/state//", "/srv/state/.", "/srv/state/./"})
		EXPECT_EQ(dirFor(spelling, nullptr), "/srv/state") << spelling;
	EXPECT_EQ(dirFor("/", nullptr), "/");

	// Unnamed, it is the user's own, whatever the session says: a login
	// shell, cron, su or a service.
	std::string own = dirFor(nullptr, nullptr);
	if (geteuid() == 0)
		EXPECT_EQ(own, "/run/corvane-sim");
	else
		EXPECT_EQ(own.rfind("/.local/state/corvane-sim"), own.size() - 25) << own;
	EXPECT_EQ(dirFor(nullptr, "/run/user/1", "/elsewhere"), own);
	EXPECT_EQ(dirFor("", "", ""), own);

	unsetenv("CORVANE_SIM_STATE_DIR");
	setenv("CORVANE_SIM_STATE_DIR", std::string(PATH_MAX, 'a').c_str(), 1);
	char path[PATH_MAX];
	bool named;
	Reason why;
	EXPECT_FALSE(stateDirPath(path, sizeof path, &named, &why));
	unsetenv("CORVANE_SIM_STATE_DIR");
	for (auto [name, value] : {std::pair{"XDG_RUNTIME_DIR", savedRuntime ? runtime.c_str() : nullptr},
		     std::pair{"HOME", savedHome ? home.c_str() : nullptr}}) {
		if (value)
			setenv(name, value, 1);
		else
			unsetenv(name);
	}
}

} // namespace
