// How the Windows service's end reaches the service control manager: what
// its recovery restarts, and what the event log is told.
#include "service/service_end.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

TEST(ServiceEnd, OnlyAnEndARestartCanHelpIsAFailure)
{
	const struct {
		int status;
		bool stopAsked;
		bool failure;
		const char *lineStart;   // null: no line of its own
	} rows[] = {
		{0, true, false, nullptr},     // net stop, shutdown
		{108, true, false, nullptr},   // asked to stop: never restarted, whatever it ended with
		{0, false, false, nullptr},
		{1, false, true, "ended with status 1 (a failure: see the lines before): the service's recovery"},
		{106, false, true, "ended with status 106 (not healthy within its start timeout): the service's recovery"},
		{107, false, true, "ended with status 107 (the process it watched has ended)"},
		{2, false, false, "ended with status 2 (not a Corvane virtual machine): not restarted"},
		{4, false, false, "ended with status 4 (application monitoring is not supported): not restarted"},
		{100, false, false, "ended with status 100 (a command line it cannot use): not restarted"},
		{105, false, false, "ended with status 105 (a check or probe that cannot work): not restarted"},
		{109, false, false, "ended with status 109 (another watcher runs): not restarted"},
		{110, false, false, "ended with status 110 (its runtime directory cannot be used): not restarted"},
	};
	for (const auto &row : rows) {
		ServiceEnd end = judgeServiceEnd(row.status, row.stopAsked);
		EXPECT_EQ(end.failure, row.failure) << row.status;
		if (row.lineStart)
			EXPECT_EQ(std::string(end.line).rfind(row.lineStart, 0), 0u) << end.line;
		else
			EXPECT_STREQ(end.line, "") << row.status;
	}
}

// The same statuses as the systemd unit's, so that the two systems never
// disagree on what a restart can help.
TEST(ServiceEnd, NotRestartedForTheStatusesTheSystemdUnitPrevents)
{
	FILE *unit = fopen(SYSTEMD_UNIT, "r");
	ASSERT_NE(unit, nullptr) << SYSTEMD_UNIT;
	char line[256];
	std::string prevented;
	while (fgets(line, sizeof line, unit))
		if (strncmp(line, "RestartPreventExitStatus=", 25) == 0)
			prevented = line + 25;
	fclose(unit);
	ASSERT_FALSE(prevented.empty());
	for (int status = 1; status < 256; status++) {
		bool listed = (" " + prevented).find(" " + std::to_string(status) + " ") != std::string::npos
			|| (" " + prevented).find(" " + std::to_string(status) + "\n") != std::string::npos;
		EXPECT_EQ(restartCannotHelp(status), listed) << status;
	}
}

}  // namespace
