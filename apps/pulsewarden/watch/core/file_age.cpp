// A file's age across steps of the wall clock; see file_age.h.
#include "file_age.h"

int64_t fileAgeNs(FileLook *look, int64_t mtimeNs, int64_t wallAgeNs, int64_t bootNowNs)
{
	int64_t age = wallAgeNs > 0 ? wallAgeNs : 0;
	if (look->seen && mtimeNs == look->mtimeNs) {
		look->lookedAtNs = bootNowNs;
		return look->ageNs + (bootNowNs - look->judgedAtNs);
	}
	// Written since the last look: whatever the wall clock says now.
	int64_t sinceLook = bootNowNs - look->lookedAtNs;
	if (look->seen && mtimeNs > look->mtimeNs && age > sinceLook)
		age = sinceLook;
	*look = FileLook{true, mtimeNs, age, bootNowNs, bootNowNs};
	return age;
}
