#include "sim_config.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

TEST(SimConfig, HeartbeatWindowTakesOnlyPositiveWholeNumbers)
{
	struct {
		const char *value;
		int64_t seconds;
	} cases[] = {
		{nullptr, 30}, {"", 30}, {"5", 5}, {"1", 1}, {"0030", 30}, {"86400", 86400},
		{"0", 30}, {"-5", 30}, {"+5", 30}, {" 5", 30}, {"5 ", 30}, {"5s", 30}, {"1.5", 30},
		{"0x10", 30}, {"99999999999999999999999", maxWindowSeconds},
	};
	for (const auto &c : cases) {
		if (c.value)
			setenv("CORVANE_SIM_HEARTBEAT_TIMEOUT", c.value, 1);
		else
			unsetenv("CORVANE_SIM_HEARTBEAT_TIMEOUT");
		EXPECT_EQ(heartbeatWindowSeconds(), c.seconds) << (c.value ? c.value : "(unset)");
	}
	unsetenv("CORVANE_SIM_HEARTBEAT_TIMEOUT");
}

std::string dirFor(const char *stateDir, const char *runtimeDir)
{
	auto set = [](const char *name, const char *value) {
		if (value)
			setenv(name, value, 1);
		else
			unsetenv(name);
	};
	set("CORVANE_SIM_STATE_DIR", stateDir);
	set("XDG_RUNTIME_DIR", runtimeDir);
	char path[PATH_MAX];
	EXPECT_TRUE(stateDirPath(path, sizeof path));
	return path;
}

TEST(SimConfig, StateDirectoryFromTheEnvironment)
{
	const char *savedRuntime = getenv("XDG_RUNTIME_DIR");
	std::string saved = savedRuntime ? savedRuntime : "";
	std::string fallback = "/tmp/corvane-sim-" + std::to_string(geteuid());

	EXPECT_EQ(dirFor("/srv/state", "/run/user/1"), "/srv/state");
	EXPECT_EQ(dirFor("relative/dir", nullptr), "relative/dir");
	EXPECT_EQ(dirFor(nullptr, "/run/user/1"), "/run/user/1/corvane-sim");
	EXPECT_EQ(dirFor("", "/run/user/1"), "/run/user/1/corvane-sim");
	EXPECT_EQ(dirFor(nullptr, nullptr), fallback);
	EXPECT_EQ(dirFor(nullptr, ""), fallback);

	setenv("CORVANE_SIM_STATE_DIR", std::string(PATH_MAX, 'a').c_str(), 1);
	char path[PATH_MAX];
	EXPECT_FALSE(stateDirPath(path, sizeof path));

	unsetenv("CORVANE_SIM_STATE_DIR");
	if (savedRuntime)
		setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
	else
		unsetenv("XDG_RUNTIME_DIR");
}

} // namespace
