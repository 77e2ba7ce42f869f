/*
 * The monitoring library called from several threads of one process at
 * once, as a Windows application may: every call must succeed and the
 * status stay green once a heartbeat is in. Exits with the number of calls
 * that failed (at most 100).
 */
#include <corvane-pulsewarden.h>

#include <windows.h>

#include <string.h>

enum { threads = 8, calls = 150 };

static DWORD WINAPI work(LPVOID arg)
{
	DWORD failures = 0;
	int worker = (int)(INT_PTR)arg;
	for (int i = 0; i < calls; i++) {
		char *status;
		switch ((worker + i) % 4) {
		case 0:
			failures += Tendwell_MarkActive() != TENDWELL_OK;
			break;
		case 1:
			failures += Tendwell_PostAppState(TENDWELL_APP_STATE_OK) != TENDWELL_OK;
			break;
		case 2:
			failures += Tendwell_IsEnabled() != 1;
			break;
		default:
			status = Tendwell_GetAppStatus();
			failures += !status || (strcmp(status, "green") != 0 && strcmp(status, "gray") != 0);
			Tendwell_Free(status);
			break;
		}
	}
	return failures;
}

int main(void)
{
	HANDLE handles[threads];
	DWORD failures = Tendwell_Enable() != TENDWELL_OK;
	for (int t = 0; t < threads; t++)
		handles[t] = CreateThread(NULL, 0, work, (LPVOID)(INT_PTR)t, 0, NULL);
	WaitForMultipleObjects(threads, handles, TRUE, INFINITE);
	for (int t = 0; t < threads; t++) {
		DWORD f = 1;
		GetExitCodeThread(handles[t], &f);
		failures += f;
		CloseHandle(handles[t]);
	}
	return failures > 100 ? 100 : (int)failures;
}
