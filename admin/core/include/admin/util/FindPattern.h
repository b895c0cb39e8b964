// Byte-pattern search with ASCII letters compared without case; the tag readers of the command protocol
// are built on it.
#pragma once
#include "win32/types.h"

// The first place in buf[0, len) where the patLen bytes of pat occur (A-Z equal a-z, every other byte,
// NUL included, compared as it is); null when none does. Never reads outside either buffer.
const BYTE* FindPattern(const BYTE* buf, DWORD len, const BYTE* pat, DWORD patLen);
