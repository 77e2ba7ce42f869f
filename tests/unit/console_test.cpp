#include "console.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

TEST(PrintTo, FlushesStdoutBeforeStderrWhenTheyAreTwoPipes)
{
	// As over ssh, or in a terminal behind `| tee`: the reader sees the
	// order of the writes, so stdout's pending line must go out first.
	int out[2];
	int err[2];
	ASSERT_EQ(pipe(out), 0);
	ASSERT_EQ(pipe(err), 0);
	fflush(stdout);
	fflush(stderr);
	int savedOut = dup(STDOUT_FILENO);
	int savedErr = dup(STDERR_FILENO);
	dup2(out[1], STDOUT_FILENO);
	dup2(err[1], STDERR_FILENO);

	// No newline: pending whatever buffering stdout has.
	printOut("Marking active by sending a heartbeat");
	printTo(stderr, "%c: %s\n", 'm', "Application monitoring is not enabled");
	fcntl(out[0], F_SETFL, O_NONBLOCK);
	char written[128];
	ssize_t n = read(out[0], written, sizeof written);

	fflush(stdout);
	dup2(savedOut, STDOUT_FILENO);
	dup2(savedErr, STDERR_FILENO);
	for (int fd : {out[0], out[1], err[0], err[1], savedOut, savedErr})
		close(fd);
	EXPECT_EQ(std::string(written, n > 0 ? static_cast<size_t>(n) : 0),
		"Marking active by sending a heartbeat");
}

} // namespace
