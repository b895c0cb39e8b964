// The settings library: its one export runs the library's own modal settings box. It holds no copy of
// the platform layer; its calls bind to the program that loads it.
#include "win32/user.h"

extern "C" int DisplaySettingsDlg(HWND owner) {
  return MessageBox(owner,
                    "Pelko USB server client settings.\n\n"
                    "This computer uses the settings of each server as TavrinAdmin shows them; "
                    "there is nothing more to set here.",
                    "Pelko Settings", MB_OK | MB_ICONINFORMATION);
}
