// Linux: systemd runs watch, from the unit the package installs and the
// configuration files it reads.
#include "service.h"

#include "console.h"
#include "exit_status.h"

#include <cstring>

int pulsewardenService(const char *invocationName, bool /*silent*/, int argc, char **argv)
{
	const char *dir = PULSEWARDEN_CONFIG_DIR;
	if (argc == 1 && strcmp(argv[0], "--version") == 0) {
		printVersion();
		return 0;
	}
	if (argc != 1 || strcmp(argv[0], "--help") != 0) {
		printTo(stderr, "service: on Linux, watch runs as the systemd unit pulsewarden-watch.service: "
			"systemctl enable --now pulsewarden-watch (its check, probes and options: %s/watch.toml, or a "
			"file of their own in %s/watch.d/)\n", dir, dir);
		return exitUsage;
	}
	printOut("Usage: %s service --help | --version\n"
		"On Linux, watch runs as the systemd unit pulsewarden-watch.service, which reads\n"
		"its check, probes and options from\n"
		"  %s/watch.toml, then each *.toml in\n"
		"  %s/watch.d/ (a file of their own for each part, say)\n"
		"  start it, and at each boot:   systemctl enable --now pulsewarden-watch\n"
		"  read the files again:         systemctl reload pulsewarden-watch\n"
		"  check them as a start would:  %s watch --check-config --config %s/watch.toml\n"
		"  how it stands:                %s status\n"
		"service install, reload and uninstall are the Windows build's.\n"
		"  --help                this text\n"
		"  --version             say the version, and exit\n"
		"Exit status: 0 for these two; 100 for anything else.\n",
		invocationName, dir, dir, invocationName, dir, invocationName);
	return 0;
}
