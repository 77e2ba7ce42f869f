// Who the check runs as, with --check-user: that user's ids, groups and a
// clean environment, as runuser gives them, while the watcher keeps what
// it needs to talk to the platform. And whether a check program is the
// watcher's to trust: one that others may change would run their code
// with the watcher's powers. check_user_posix.cpp for Linux,
// check_user_windows.cpp for Windows.
#pragma once

#include <cstddef>

struct CheckUser;

// Looks USER up for the checks to run as. Null, with why, when there is no
// such user or the watcher cannot become it (only root can become another).
CheckUser *lookUpCheckUser(const char *name, char *why, size_t size);
void releaseCheckUser(CheckUser *user);

// Linux, in a check's new process before it runs the program: becomes the
// user, with its environment in place of the watcher's. False, with errno,
// when it cannot.
bool becomeCheckUser(const CheckUser *user);

// Whether the check can be started: as checkProgramUsable says, but as
// `user` (null: the watcher itself) would find and run it, and refused
// when others than root and the watcher's user may change the program,
// its script's interpreter or a directory above either.
bool checkProgramTrusted(const char *program, const CheckUser *user, char *why, size_t size);
