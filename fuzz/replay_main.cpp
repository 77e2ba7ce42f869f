// Runs a fuzz target over files and directories of inputs, for builds
// without libFuzzer: the committed corpus becomes an ordinary test.
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int *argc, char ***argv);

static int replayed;

static void replayFile(const std::string &path)
{
	FILE *f = fopen(path.c_str(), "rb");
	if (!f)
		return;
	std::vector<uint8_t> data;
	uint8_t chunk[4096];
	size_t n;
	while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
		data.insert(data.end(), chunk, chunk + n);
	fclose(f);
	LLVMFuzzerTestOneInput(data.data(), data.size());
	replayed++;
}

// A file, or every file in a directory (a corpus is flat).
static void replay(const std::string &path)
{
	DIR *dir = opendir(path.c_str());
	if (!dir) {
		replayFile(path);
		return;
	}
	while (struct dirent *entry = readdir(dir)) {
		std::string file = path + "/" + entry->d_name;
		struct stat st;
		if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode))
			replayFile(file);
	}
	closedir(dir);
}

int main(int argc, char **argv)
{
	// The target may send stdout and stderr away: keep a way to report.
	FILE *report = fdopen(dup(2), "w");
	if (LLVMFuzzerInitialize)
		LLVMFuzzerInitialize(&argc, &argv);
	for (int i = 1; i < argc; i++)
		replay(argv[i]);
	fprintf(report ? report : stderr, "replayed %d inputs\n", replayed);
	return replayed > 0 ? 0 : 1;
}
