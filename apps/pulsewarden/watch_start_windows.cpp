// Windows: watch is part of the tool.
#include "watch_start.h"

#include "watch/watch.h"

int startWatch(const char *invocationName, bool silent, int argc, char **argv)
{
	return pulsewardenWatch(invocationName, silent, argc, argv);
}

int startStatus(const char *invocationName, int argc, char **argv)
{
	return pulsewardenStatus(invocationName, argc, argv);
}
