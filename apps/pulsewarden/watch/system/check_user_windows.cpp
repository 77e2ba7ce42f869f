// Windows: a check runs as the service's account (service install
// --account), never as a user of its own, for which a password would have
// to be kept.
#include "check_user.h"

#include "events.h"
#include "files.h"

#include <windows.h>

#include <cstdio>

CheckUser *lookUpCheckUser(const char *name, char *why, size_t size)
{
	snprintf(why, size, "check_user %s: not on Windows, where the check runs as the service's account "
		"(pulsewarden service install --account)", name);
	return nullptr;
}

void releaseCheckUser(CheckUser * /*user*/)
{
}

bool becomeCheckUser(const CheckUser * /*user*/)
{
	return false;
}

// Judged where it is found, as every input is.
bool checkProgramTrusted(const char *program, const CheckUser * /*user*/, char *why, size_t size)
{
	char found[MAX_PATH];
	return checkProgramUsable(program, why, size) && findCheckProgram(program, found, sizeof found)
		&& !writableByOthers(found, why, size);
}
