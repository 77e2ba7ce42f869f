// Console output and the library's result messages, in a word form for
// one-shot commands and a letter form for the agent.
#include "console.h"

#include "platform.h"
#include "watch/core/library_result.h"

#include <cstdarg>

bool silentMode = false;

// Whether stdout may hold text that an error line must not overtake: a
// run that printed nothing there has nothing to flush first.
static bool stdoutWritten;

void printOut(const char *format, ...)
{
	stdoutWritten = true;
	va_list ap;
	va_start(ap, format);
	// A result line ("%s\n": a status word, true or false), all a one-shot
	// run prints, and most lines, fixed text, need none of printf's
	// machinery, which costs the agent more than everything else it does
	// per command.
	if (format[0] == '%' && format[1] == 's' && format[2] == '\n' && !format[3]) {
		puts(va_arg(ap, const char *));
	} else {
		const char *conversion = findConversion(format);
		if (*conversion == '\0')
			fwrite(format, 1, static_cast<size_t>(conversion - format), stdout);
		else
			vfprintf(stdout, format, ap);
	}
	va_end(ap);
}

void printVersion()
{
	printOut("pulsewarden %s\n", PULSEWARDEN_VERSION);
}

static void flushStdoutFirst()
{
	if (!stdoutWritten)
		return;
	flushStdoutBeforeStderr();
	stdoutWritten = false;
}

void printTo(FILE *stream, const char *format, ...)
{
	// The dialogue must read in the order it happened, wherever the two
	// streams go (one terminal, `| tee`, two pipes over ssh). Commands that
	// fail nothing write nothing here, so they keep stdout's large writes.
	if (stream == stderr)
		flushStdoutFirst();
	va_list ap;
	va_start(ap, format);
	vfprintf(stream, format, ap);
	va_end(ap);
}

// "WORD: message" on stderr, in one write: a fixed message needs none of
// printf's machinery, which would cost a failing one-shot run more than
// the rest of its own work. False when it does not fit.
static bool writeMessage(const char *word, const char *message)
{
	char line[160];
	size_t n = 0;
	const char *const pieces[] = {word, ": ", message, "\n"};
	for (const char *piece : pieces)
		for (const char *p = piece; *p; p++)
			if (n < sizeof line)
				line[n++] = *p;
			else
				return false;
	flushStdoutFirst();
	fwrite(line, 1, n, stderr);
	flushStderr();
	return true;
}

void reportResultForWord(const char *word, int result)
{
	if (result == 0)
		return;
	const char *message = resultWords(result);
	if (message && !writeMessage(word, message))
		printTo(stderr, "%s: %s\n", word, message);
	else if (!message)
		printTo(stderr, "%s: Unknown error (%d) occurred\n", word, result);
}

void reportResultForLetter(char letter, int result)
{
	if (result == 0)
		return;
	const char word[2] = {letter, '\0'};
	const char *message = resultWords(result);
	if (message && !writeMessage(word, message))
		printTo(stderr, "%c: %s\n", letter, message);
	else if (!message)
		printTo(stderr, "%c: Unknown error (%d) occurred\n", letter, result);
}
