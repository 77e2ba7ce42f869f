// Fuzzes watch's reading of a configuration file: the input is the file.
// Whatever it holds, a fault names its place ("FILE:LINE:COLUMN: ...");
// a file that reads prints as one that reads back to the same
// configuration, printed the same again.
#include "core/config_file.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static WatchConfig first;
static WatchConfig second;
static char printed[1 << 18];
static char again[1 << 18];

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const char *text = reinterpret_cast<const char *>(data);
	char why[700];
	startConfig(&first);
	if (!readConfigText("f.toml", text, size, &first, why, sizeof why)) {
		char *at;
		char *end;
		if (strncmp(why, "f.toml:", 7) != 0 || strtoul(why + 7, &at, 10) == 0 || *at != ':'
			|| strtoul(at + 1, &end, 10) == 0 || strncmp(end, ": ", 2) != 0)
			abort();
		return 0;
	}
	if (!printConfig(first.options, first.silent, printed, sizeof printed, why, sizeof why))
		return 0;  // a value TOML cannot hold, said so
	startConfig(&second);
	if (!readConfigText("printed.toml", printed, strlen(printed), &second, why, sizeof why))
		abort();
	if (!printConfig(second.options, second.silent, again, sizeof again, why, sizeof why) || strcmp(printed, again) != 0)
		abort();
	return 0;
}
