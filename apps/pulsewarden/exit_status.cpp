#include "exit_status.h"

// A process exit status keeps only the low 8 bits, so 256 would reach a
// script as 0: a failure read as success.
int exitStatusForResult(int32_t result)
{
	if (result != 0 && (result & 0xff) == 0)
		return 1;
	return result;
}
