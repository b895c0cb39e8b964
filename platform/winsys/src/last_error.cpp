// The last-error value, per thread. A file of its own: every call that fails sets it, and what sets it
// should pull in nothing else.
#include "win32/sync.h"

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

DWORD GetLastError() { return t_lastError; }
void SetLastError(DWORD error) { t_lastError = error; }
