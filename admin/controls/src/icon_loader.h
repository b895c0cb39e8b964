// Icons of the program's resources at their default size (kept apart from the framework headers).
#pragma once
#include "win32/gdi.h"

namespace controls_detail {
HICON LoadProgramIcon(UINT id);
}
