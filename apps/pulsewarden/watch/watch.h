// watch: the platform kept told, continuously, whether the application is
// healthy, from a check run on a schedule or a process watched.
#pragma once

// Runs watch with the arguments after its word; returns the exit status:
// 0 after an orderly stop.
int runWatch(const char *invocationName, int argc, char **argv);
