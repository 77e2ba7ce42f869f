// watch, started from the command line: on Linux its module is loaded
// first (watch_start_posix.cpp), on Windows it is part of the tool
// (watch_start_windows.cpp).
#pragma once

// Runs watch with the arguments after its word; returns the exit status.
int startWatch(const char *invocationName, bool silent, int argc, char **argv);
// pulsewarden status, which reads what watch keeps: the same module.
int startStatus(const char *invocationName, int argc, char **argv);
