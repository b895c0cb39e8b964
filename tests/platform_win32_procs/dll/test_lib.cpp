// A DLL for the library tests: its calls into the platform layer must reach the loading program's copy.
#include "win32/windows.h"

extern "C" int ShowBox(const char* text) { return MessageBox(nullptr, text, "TestLib", MB_OKCANCEL); }
extern "C" DWORD CurrentError() { return GetLastError(); }
