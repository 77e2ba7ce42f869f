// Whether a path is a full one, whatever directory a program starts in:
// "/..." on Linux; "C:\..." or "\\server\..." on Windows. Judged from the
// text alone, so that options and files are judged the same everywhere.
#pragma once

inline bool fullPath(const char *path)
{
#if defined(_WIN32)
	auto separator = [](char c) { return c == '\\' || c == '/'; };
	bool drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) && path[1] == ':'
		&& separator(path[2]);
	return drive || (separator(path[0]) && separator(path[1]));
#else
	return path[0] == '/';
#endif
}
