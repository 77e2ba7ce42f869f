#pragma once

// The interactive agent: a menu, one command letter per input line, until
// "q" or the end of input ends the process with status 0.
[[noreturn]] void runAgent();
