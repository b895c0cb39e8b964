// PrinterInfo: one auto-connect printer, as the document's printer list and printer monitor table keep it.
#pragma once
#include "win32/types.h"

struct PrinterInfo {
  char PrinterName[260];  // the Windows printer name, also its key name under SOFTWARE\Tavrin\Printers
  DWORD AutoReconnect;    // 1 auto-connect on, 0 off; in a monitor slot the monitor's run flag
  WORD Vid;
  WORD Pid;
  WORD Rev;
  DWORD DeviceIP;         // server address, network byte order
  WORD DevicePort;        // the server's USB port of the printer
};
