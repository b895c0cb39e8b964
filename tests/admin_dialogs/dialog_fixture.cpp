#include "dialog_fixture.h"

#include "admin/comm/CommSettings.h"
#include "admin/util/Utilities.h"
#include "win32/winsock.h"

void DialogTest::SetUp() {
  SysrootTest::SetUp();
  ASSERT_EQ(WinsockStart(), 0);
  saved_ = GetDefaultServerCommSettings();
  ServerCommSettings settings;
  settings.commandRecvTimeoutMs = 50;
  settings.processDelayMs = 0;
  settings.discoveryAddress = "127.0.0.1";
  SetDefaultServerCommSettings(settings);
  tavrin::SetMessageBoxSink([this](const std::string& text, const std::string&, UINT type) {
    boxes_.push_back({text, type});
    return boxAnswer_;
  });
}

void DialogTest::TearDown() {
  simulator_.Stop();
  tavrin::SetMessageBoxSink({});
  SetDefaultServerCommSettings(saved_);
  WinsockStop();
  SysrootTest::TearDown();
}

void DialogTest::StartServers(int first, int count, const Adjust& adjust) {
  first_ = first;
  count_ = count;
  port_ = zarnet::sim::FreeLoopbackPort(SOCK_STREAM, ("127.0.0." + std::to_string(first)).c_str());
  ASSERT_NE(port_, 0);
  const uint16_t deviceLists = zarnet::sim::FreeLoopbackPort(SOCK_DGRAM, "127.0.0.1");
  for (int n = first; n < first + count; ++n) {
    zarnet::sim::ServerOptions options = zarnet::sim::LoopbackServerOptions(n, deviceLists);
    options.command_port = port_;
    if (adjust) adjust(n, options);
    simulator_.AddServer(options);
  }
  std::string error;
  ASSERT_TRUE(simulator_.Start(&error)) << error;
  ServerCommSettings settings = GetDefaultServerCommSettings();
  settings.commandPort = port_;
  settings.discoveryPort = port_;
  settings.discoveryAddress = ServerAddresses();
  SetDefaultServerCommSettings(settings);
}

std::string DialogTest::ServerAddresses() const {
  std::string list;
  for (int n = first_; n < first_ + count_; ++n) list += (list.empty() ? "" : ",") + ("127.0.0." + std::to_string(n));
  return list;
}

void DialogTest::PatientCommands() {
  ServerCommSettings settings = GetDefaultServerCommSettings();
  settings.commandRecvTimeoutMs = ServerCommSettings().commandRecvTimeoutMs;
  SetDefaultServerCommSettings(settings);
}
