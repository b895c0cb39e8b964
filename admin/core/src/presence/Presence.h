// Pieces shared by the server presence, device list, connect and printer code of the document.
#pragma once
#include "admin/TavrinAdminDoc.h"
#include "win32/sync.h"

namespace presence {

// The interlocked flags and counters of the document are read from several threads.
inline LONG Load(const volatile LONG& value) { return __atomic_load_n(&value, __ATOMIC_SEQ_CST); }

// The address text of a list entry (its buffer is not always NUL-terminated by the sender of a copy).
CString AddressOf(const char (&serverIp)[28]);
bool SameAddress(const char (&serverIp)[28], LPCSTR address);

// Shows a text in the status bar (when the program has a main frame) and appends it to the Device Mapping
// log of the document.
void ReportMappingStatus(CTavrinAdminDoc& doc, const CString& text);
// Formats a string of the string table.
CString LoadFormatted(UINT id, ...);

}  // namespace presence
