// The service command: on Windows, watch installed, run and removed as a
// service of the service control manager (service_windows.cpp,
// service_run_windows.cpp); on Linux the systemd unit is the way there
// (service_posix.cpp).
#pragma once

// Runs the service command with the arguments after its word, silent as
// the command line before it said; returns the exit status.
int pulsewardenService(const char *invocationName, bool silent, int argc, char **argv);
