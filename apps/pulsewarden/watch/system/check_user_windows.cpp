// Windows: a check runs as the service's account (service install
// --account), never as a user of its own, for which a password would have
// to be kept.
#include "check_user.h"

#include "events.h"

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

bool checkProgramTrusted(const char *program, const CheckUser * /*user*/, char *why, size_t size)
{
	return checkProgramUsable(program, why, size);
}
