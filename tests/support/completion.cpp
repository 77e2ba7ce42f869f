#include "completion.h"

#include "run_program.h"

#include <gtest/gtest.h>

const char *const bashCompletionFile = BASH_COMPLETION;

std::set<std::string> completionList(const char *name)
{
	std::set<std::string> words;
	const std::string text = readFile(bashCompletionFile);
	const std::string start = std::string("local ") + name + "='";
	size_t at = text.find(start);
	if (at == std::string::npos) {
		ADD_FAILURE() << bashCompletionFile << " has no list " << name;
		return words;
	}
	at += start.size();
	const std::string list = text.substr(at, text.find('\'', at) - at);
	for (size_t from = list.find_first_not_of(" \t\n"); from != std::string::npos;) {
		size_t to = list.find_first_of(" \t\n", from);
		words.insert(list.substr(from, to - from));
		from = list.find_first_not_of(" \t\n", to);
	}
	return words;
}
