/*
 * corvane-pulsewarden: the guest-side application monitoring library of the
 * Corvane platform. Seven plain functions, no handle, no set-up call.
 * Usable from C and C++.
 */
#ifndef CORVANE_PULSEWARDEN_H
#define CORVANE_PULSEWARDEN_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(TENDWELL_BUILDING_LIBRARY)
#    define TENDWELL_API __declspec(dllexport)
#  else
#    define TENDWELL_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define TENDWELL_API __attribute__((visibility("default")))
#else
#  define TENDWELL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result of enable, disable, markActive and postAppState. */
typedef int32_t TendwellResult;

enum {
	TENDWELL_OK = 0,
	TENDWELL_ERR_UNSPECIFIED = 1,
	TENDWELL_ERR_NOT_IN_VM = 2,        /* not inside a Corvane virtual machine */
	TENDWELL_ERR_NOT_ENABLED = 3,      /* application monitoring is off */
	TENDWELL_ERR_NOT_SUPPORTED = 4
};

/*
 * The enabled flag is one byte: zero is false, any other value true.
 * Callers that pass the byte on (as an exit status, say) must keep it whole,
 * which a C++ bool would not.
 */
typedef uint8_t TendwellBool;

/* The two application states a caller normally posts. */
#define TENDWELL_APP_STATE_OK "appStateOk"
#define TENDWELL_APP_STATE_NEED_RESET "appStateNeedReset"

TENDWELL_API TendwellResult Tendwell_Enable(void);
TENDWELL_API TendwellResult Tendwell_Disable(void);
TENDWELL_API TendwellResult Tendwell_MarkActive(void);
TENDWELL_API TendwellBool Tendwell_IsEnabled(void);

/*
 * "gray", "green" or "red" (or other text the platform may add), allocated
 * by the library: hand it to Tendwell_Free. Null when no status could be had.
 */
TENDWELL_API char *Tendwell_GetAppStatus(void);

TENDWELL_API TendwellResult Tendwell_PostAppState(const char *state);
TENDWELL_API void Tendwell_Free(char *status);

#ifdef __cplusplus
}
#endif

#endif
