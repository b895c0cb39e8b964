// The pauses and limits of the firmware upgrade. The defaults are the product's; tests shorten them.
#pragma once
#include "win32/types.h"

struct UpgradeSettings {
  DWORD startWaitMs = 3000;         // for a started TFTP server to show its event
  DWORD stopWaitMs = 1000;          // for a stopped TFTP server to end
  DWORD lockWaitMs = 5000;          // for the transfer table's lock
  DWORD statusPollMs = 1000;        // between looks at the table while a transfer runs or has not begun
  DWORD transferTimeoutMs = 300000; // from a worker's start to its transfer's end
  DWORD configRetryMs = 1000;       // between the configuration requests after the transfer
  DWORD configTimeoutMs = 480000;   // from a worker's start until the server must show its new version
};

// The settings every new upgrade object starts with. Thread-safe.
UpgradeSettings GetUpgradeSettings();
void SetUpgradeSettings(const UpgradeSettings& settings);
