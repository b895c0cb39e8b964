#include "dialog_fixture.h"

#include <cstring>

#include "admin/Resource.h"
#include "admin/comm/CommSettings.h"
#include "admin/ui/AutoConnectDlg.h"
#include "admin/ui/ServerConfigDlg.h"
#include "admin/ui/ServerSearchDlg.h"
#include "admin/ui/UnlockServerDlg.h"
#include "admin/ui/UpgradeFirmwareDlg.h"
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
  for (int n = first_; n < first_ + count_; ++n) {
    if (!list.empty()) list += ',';
    list += "127.0.0.";
    list += std::to_string(n);
  }
  return list;
}

void DialogTest::PatientCommands() {
  ServerCommSettings settings = GetDefaultServerCommSettings();
  settings.commandRecvTimeoutMs = ServerCommSettings().commandRecvTimeoutMs;
  SetDefaultServerCommSettings(settings);
}

DialogLists::DialogLists(int n) {
  SelectedServerEntry entry{};
  entry.CommandPort = 1341;
  strcpy(entry.ServerIp, ("127.0.0." + std::to_string(n)).c_str());
  servers.AddTail(entry);
}

namespace {

// A Closing<Dialog> made from `args`, set up by `prepare`, run until it sends itself `close`.
template <class Dialog, class Prepare, class... Args>
DialogOpening::Outcome Open(WPARAM close, Prepare prepare, Args... args) {
  Closing<Dialog> dialog(args...);
  dialog.close = close;
  prepare(dialog);
  return {dialog.DoModal(), dialog.placed};
}

}  // namespace

const std::vector<DialogOpening>& ServerManagerDialogs() {
  static const std::vector<DialogOpening> dialogs{
      {"search", IDOK,
       [](DialogLists& lists, CWnd* parent) {
         return Open<CServerSearchDlg>(IDC_SEARCH_STOP, [&](auto& d) { d.m_pServerList = &lists.found; }, parent);
       }},
      {"unlock", IDCANCEL,
       [](DialogLists& lists, CWnd* parent) {
         return Open<CUnlockServerDlg>(IDC_UNLOCK_CANCEL, [&](auto& d) { d.m_pServerList = &lists.servers; }, parent);
       }},
      {"configuration", IDCANCEL,
       [](DialogLists& lists, CWnd* parent) {
         return Open<CServerConfigDlg>(
             IDC_CONFIG_CANCEL,
             [&](auto& d) {
               d.m_pServerList = &lists.servers;
               d.closeAfter = WM_USER + 9;  // its pages filled
             },
             parent);
       }},
      {"firmware image", IDCANCEL,
       [](DialogLists& lists, CWnd* parent) {
         return Open<CUpgradeFirmwareDlg>(IDC_UPGRADE_CANCEL, [&](auto& d) { d.m_pSelectedServers = &lists.servers; },
                                          parent);
       }},
      {"upgrade status", IDOK,  // no TFTP server: every row failed, OK shown at once
       [](DialogLists& lists, CWnd* parent) {
         return Open<CUpgradeFWStatusDlg>(IDC_UPGRADE_OK, [&](auto& d) { d.SetSelectedServers(&lists.servers); },
                                          parent);
       }},
      {"printer auto connect", IDCANCEL,
       [](DialogLists& lists, CWnd* parent) {
         return Open<CAutoConnectDlg>(IDC_AUTO_CONNECT_EXIT, [](auto&) {}, &lists.doc, parent);
       }},
  };
  return dialogs;
}
