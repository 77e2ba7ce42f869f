// The simulated platform's saved state: read as it is, or changed under the
// lock, one whole state for another. Where it lives is worked out here,
// once for each call.
#pragma once

#include "sim_platform.h"
#include "sim_state.h"

#include <cstdint>

enum ReadResult { stateRead, stateMissing, stateDamaged };

// The saved state, for those who only read it: nothing is locked or
// created. A missing state reads as a fresh one. On stateDamaged, `why`
// says what is wrong.
ReadResult readSavedState(SimState *state, Reason *why);

// A read-modify-write under the lock, for operation `op` (operationCount
// for none). When corvane-sim set an answer for `op`, that is the result
// and nothing changes. Otherwise `change` sees the old state (a fresh one
// when none was saved or it is damaged: `found` tells, and `why` then says
// what is wrong) and returns the result; the state is saved only when it
// sets `save`. A change that fails says why; `why` holds text only when
// the result is 1, the failure that needs explaining.
typedef int32_t (*StateChange)(ReadResult found, SimState *state, const void *arg, bool *save, Reason *why);
int32_t changeSavedState(Operation op, StateChange change, const void *arg, Reason *why);
