// The simulated platform's state, as kept in its state file, and the
// application status it gives.
#pragma once

#include <cstddef>
#include <cstdint>

enum PostedState : uint8_t { postedNone, postedOk, postedNeedReset };

// The library's operations, as corvane-sim names them in its answers.
enum Operation : uint8_t {
	opEnable, opDisable, opMarkActive, opIsEnabled, opGetAppStatus, opPostAppState,
	operationCount,
};
extern const char *const operationNames[operationCount];

enum : size_t {
	bootIdSize = 64,       // room for the kernel's boot id and its NUL
	answerWordSize = 64,   // room for a status word to answer and its NUL
	stateTextMax = 512,    // a longer state file is damaged
};

enum : int64_t {
	nsPerSecond = 1000000000,
	defaultWindowNs = 30 * nsPerSecond,
	maxWindowNs = 1000000000 * nsPerSecond, // a billion seconds
};

// What corvane-sim made an operation answer in place of its own work.
struct Answer {
	bool set;
	int32_t value;                // a result code, or isEnabled's byte
	bool null;                    // getAppStatus: no status at all
	char word[answerWordSize];    // getAppStatus: the status word
};

struct SimState {
	bool enabled;
	int64_t windowNs;      // the heartbeat window, the platform's own setting
	bool hasHeartbeat;     // a heartbeat since monitoring was enabled
	char bootId[bootIdSize];   // the boot the heartbeat was sent in
	int64_t heartbeatNs;   // boot-time clock of the last heartbeat
	PostedState posted;
	Answer answers[operationCount];
};

// A platform as it starts: off, the default window, nothing answered.
SimState freshSimState();

// The state as text; returns its length (at most stateTextMax).
size_t formatSimState(const SimState *state, char *text);

// False for anything that is not exactly what formatSimState writes, or
// what the first version of the format wrote (without window or answers).
bool parseSimState(const char *text, size_t length, SimState *state);

// Why the platform gives the status it gives.
enum StatusReason {
	reasonOff,              // gray: monitoring is off
	reasonNoHeartbeat,      // gray: no heartbeat since it was switched on
	reasonNeedReset,        // red: the application posted appStateNeedReset
	reasonEarlierBoot,      // red: the last heartbeat is from an earlier boot
	reasonHeartbeatStale,   // red: the last heartbeat is older than the window
	reasonHeartbeatFresh,   // green
};

StatusReason statusReasonOf(const SimState *state, const char *bootId, int64_t nowNs);

// "gray", "green" or "red".
const char *statusWordOf(StatusReason reason);

// When, on the boot-time clock, the status turns red by itself; 0 when it
// cannot (it is not green).
int64_t staleAtNs(const SimState *state, const char *bootId, int64_t nowNs);

// An answer for `op` as corvane-sim takes it and the state file holds it:
// a result code (an optional minus, then digits, no leading zero), a byte
// 0 to 255 for isEnabled, a status word or "null" for getAppStatus.
bool parseAnswer(Operation op, const char *text, Answer *answer);

// Seconds as written by a person or in the state file: digits, then
// optionally a point and up to nine more. Canonical (as the state file
// holds it) refuses leading zeros and trailing fractional zeros. False for
// anything else, or for a duration that is not positive or exceeds
// maxWindowNs.
bool parseSeconds(const char *text, size_t length, bool canonical, int64_t *ns);

// Why a person's seconds were refused, in words ("must be more than 0").
const char *secondsProblem(const char *text);

// Nanoseconds as seconds with at most `decimals` fractional digits (up to
// nine; cut, not rounded), without trailing zeros. Returns the length.
size_t formatSeconds(int64_t ns, int decimals, char *text, size_t size);
