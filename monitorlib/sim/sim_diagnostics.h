// With CORVANE_SIM_DEBUG=1, each failure of the simulated platform's
// library is said on stderr, one line naming its cause. Otherwise the
// library prints nothing: its callers' output is their own.
#pragma once

void reportFailure(const char *operation, const char *cause);
