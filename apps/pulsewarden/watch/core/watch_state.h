// What watch is, in a word, and how loud a line is: shared by the core and
// the files it shows them in.
#pragma once

// The priorities of the journal; -s hides priorityInfo.
enum Priority { priorityError = 3, priorityWarning = 4, priorityNotice = 5, priorityInfo = 6 };

// held: monitoring switched off rather than let the platform reset the
// machine once more than --max-resets allows.
enum WatchState { stateStarting, stateHealthy, stateFailing, statePaused, stateHeld };

// The state's name: "healthy".
const char *stateName(WatchState state);
