#include "line_input.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// The commands the reader finds in input written in the given pieces.
std::vector<int> commandsOf(const std::vector<std::string> &pieces)
{
	int fds[2];
	EXPECT_EQ(pipe(fds), 0);
	std::thread writer([&] {
		for (const std::string &piece : pieces) {
			EXPECT_EQ(write(fds[1], piece.data(), piece.size()), static_cast<ssize_t>(piece.size()));
			usleep(2000);  // separate reads for separate pieces
		}
		close(fds[1]);
	});
	static LineInput in;
	in = LineInput{fds[0], false, 0, 0, 0, {}};
	std::vector<int> commands;
	int c;
	while ((c = readCommandLine(&in)) != endOfInput)
		commands.push_back(c);
	EXPECT_EQ(readCommandLine(&in), endOfInput) << "must stay at the end";
	writer.join();
	close(fds[0]);
	return commands;
}

using Commands = std::vector<int>;

TEST(ReadCommandLine, TakesTheLastCharacterOfEachLine)
{
	EXPECT_EQ(commandsOf({"e\n"}), Commands{'e'});
	EXPECT_EQ(commandsOf({"e\nm\nq\n"}), (Commands{'e', 'm', 'q'}));
	EXPECT_EQ(commandsOf({"quit\n"}), Commands{'t'});
	EXPECT_EQ(commandsOf({"xe\n"}), Commands{'e'});
	EXPECT_EQ(commandsOf({"\n"}), Commands{'\n'});
	EXPECT_EQ(commandsOf({"\n\ne\n"}), (Commands{'\n', '\n', 'e'}));
	EXPECT_EQ(commandsOf({std::string("\0\n", 2)}), Commands{0});
	EXPECT_EQ(commandsOf({"\xff\n"}), Commands{0xff});
}

TEST(ReadCommandLine, EndOfInput)
{
	EXPECT_EQ(commandsOf({}), Commands{});
	EXPECT_EQ(commandsOf({"e"}), Commands{'e'});
	EXPECT_EQ(commandsOf({"e\nm"}), (Commands{'e', 'm'}));
	EXPECT_EQ(commandsOf({"e\n"}), Commands{'e'}) << "no empty line after the last newline";
}

TEST(ReadCommandLine, CarriageReturnBeforeNewlineIsNotPartOfTheLine)
{
	EXPECT_EQ(commandsOf({"e\r\n"}), Commands{'e'});
	EXPECT_EQ(commandsOf({"\r\n"}), Commands{'\n'});
	EXPECT_EQ(commandsOf({"e\r\r\n"}), Commands{'\r'});
	EXPECT_EQ(commandsOf({"e\rm\n"}), Commands{'m'});
	EXPECT_EQ(commandsOf({"\re\n"}), Commands{'e'});
	EXPECT_EQ(commandsOf({"e\r"}), Commands{'\r'}) << "no newline follows it";
	EXPECT_EQ(commandsOf({"e\r", "\n"}), Commands{'e'}) << "split between reads";
	EXPECT_EQ(commandsOf({"e\r", "\r", "\nd\r", "\n"}), (Commands{'\r', 'd'}));
}

TEST(ReadCommandLine, LinesLongerThanABlock)
{
	std::string line(3 * sizeof(LineInput::block) + 17, 'x');
	line.back() = 'g';
	EXPECT_EQ(commandsOf({line + "\n", "d\n"}), (Commands{'g', 'd'}));
	// The CR falls on the last byte of a block, its newline on the next.
	std::string edge(sizeof(LineInput::block) - 2, 'y');
	EXPECT_EQ(commandsOf({edge + "e\r\n"}), Commands{'e'});
}

} // namespace
