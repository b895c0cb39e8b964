// A server as the user's selection holds it, for the tests of the commands that run on a selection.
#pragma once
#include <cstring>
#include <string>

#include "admin/upgrade/SelectedServerEntry.h"

namespace tavrin::test {

inline SelectedServerEntry SelectedServer(const std::string& ip, BYTE major, BYTE minor) {
  SelectedServerEntry entry{};
  entry.CommandPort = 1341;
  std::strncpy(entry.ServerIp, ip.c_str(), sizeof entry.ServerIp - 1);
  std::strncpy(entry.Server.ServerIp, ip.c_str(), sizeof entry.Server.ServerIp - 1);
  entry.Server.FwVersionMajor = major;
  entry.Server.FwVersionMinor = minor;
  return entry;
}

}  // namespace tavrin::test
