// Linux: systemd runs watch, from the unit the package installs.
#include "service.h"

#include "console.h"
#include "exit_status.h"

int pulsewardenService(const char * /*invocationName*/, bool /*silent*/, int /*argc*/, char ** /*argv*/)
{
	printTo(stderr, "service: on Linux, watch runs as the systemd unit pulsewarden-watch.service: "
		"systemctl enable --now pulsewarden-watch (its check, probes and options: systemctl edit "
		"pulsewarden-watch)\n");
	return exitUsage;
}
