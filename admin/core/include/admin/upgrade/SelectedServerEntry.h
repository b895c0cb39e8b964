// The servers selected for a command, in the order the user selected them (the document fills the list;
// the upgrade reads it and never changes it).
#pragma once
#include "admin/comm/Discovery.h"
#include "mfc/collections.h"

#pragma pack(push, 1)
struct SelectedServerEntry {
  DWORD CommandPort;  // 1341
  char ServerIp[30];
  ServerDiscoveryRecord Server;
};
#pragma pack(pop)

using SelectedServerList = CList<SelectedServerEntry>;
