// The document's commands as the menus, the toolbar and the context menus see them: which are enabled
// by the functional pane's selections and the mapping state, what the context menus offer, and the
// Server Manager commands around their dialogs.
#include <algorithm>

#include "admin/Resource.h"
#include "admin/comm/CommSettings.h"
#include "doc_fixture.h"
#include "win32/winsock.h"

namespace admin_doc_test {
namespace {

// The frame's panes with the selections the test sets; everything else goes to the frame.
class SelectionPanes : public IDocPanes {
 public:
  explicit SelectionPanes(IDocPanes* frame) : frame_(frame) {}

  void SetStatusText(LPCSTR text) override { frame_->SetStatusText(text); }
  int ShowMessageBox(LPCSTR text, UINT style) override { return frame_->ShowMessageBox(text, style); }
  HWND GetMainWindow() const override { return frame_->GetMainWindow(); }
  void AddDeviceMappingLog(LPCSTR text) override { frame_->AddDeviceMappingLog(text); }
  void AddServerManagerLog(LPCSTR text) override { frame_->AddServerManagerLog(text); }
  void ShowDeviceDetails(LPCSTR ip, WORD port) override { frame_->ShowDeviceDetails(ip, port); }
  void ClearDeviceDetails() override { frame_->ClearDeviceDetails(); }
  void ShowServerManagerDetails(LPCSTR ip) override { frame_->ShowServerManagerDetails(ip); }
  void ClearServerDetails() override { frame_->ClearServerDetails(); }
  HWND GetFunctionWindow() const override { return frame_->GetFunctionWindow(); }
  void DeleteServerItem(LPCSTR ip) override { frame_->DeleteServerItem(ip); }
  void DeleteDeviceItem(const DeviceEntry& device) override { frame_->DeleteDeviceItem(device); }
  void DeleteAllTreeItems() override { frame_->DeleteAllTreeItems(); }
  BOOL GetSelectedDevice(CString* ip, WORD* port, CString* state) override {
    if (!deviceSelected) return FALSE;
    *ip = "127.0.0.7";
    *port = 1;
    *state = deviceState;
    return TRUE;
  }
  void MarkSelectedDevice(BOOL queued, BOOL connecting) override { frame_->MarkSelectedDevice(queued, connecting); }
  void KillMappingTimers() override { frame_->KillMappingTimers(); }
  BOOL OpenWaitWindow(LPCSTR text, int kind) override {
    waitKinds.push_back(kind);
    return !waitWindowBusy && frame_->OpenWaitWindow(text, kind);
  }
  void CloseWaitWindow() override {
    ++waitCloses;
    frame_->CloseWaitWindow();
  }
  std::vector<ServerListRow> GetSelectedServerRows() override { return rows; }
  void SetServerRowText(int row, int column, LPCSTR text) override {
    cells.push_back(std::to_string(row) + ":" + std::to_string(column) + ":" + text);
  }
  BOOL TrackContextMenu(const ContextMenu& menu, HWND, POINT) override {
    menus.push_back(menu);
    return TRUE;
  }

  bool deviceSelected = false;
  CString deviceState;
  std::vector<ServerListRow> rows;
  std::vector<std::string> cells;
  std::vector<ContextMenu> menus;
  std::vector<int> waitKinds;
  int waitCloses = 0;
  bool waitWindowBusy = false;  // another operation's wait window is open

 private:
  IDocPanes* frame_;
};

class RecordingDialogs : public IServerDialogs {
 public:
  INT_PTR RunServerSearch() override { return Ran("search"); }
  INT_PTR RunUnlock() override { return Ran("unlock"); }
  INT_PTR RunUpgradeFirmware() override { return Ran("upgrade"); }
  INT_PTR RunServerConfiguration(int* passwordEnable, CString* newIp) override {
    *passwordEnable = passwordEnableResult;
    *newIp = newIpResult;
    return Ran("configuration");
  }
  INT_PTR RunPrinterAutoConnect() override { return Ran("printers"); }

  INT_PTR result = IDOK;
  int passwordEnableResult = -1;
  CString newIpResult;
  std::vector<std::string> runs;

 private:
  INT_PTR Ran(const char* name) {
    runs.push_back(name);
    return result;
  }
};

// A CCmdUI that keeps what the update handler decided.
class RecordingCmdUI : public CCmdUI {
 public:
  void Enable(BOOL on) override { enabled = on; }
  BOOL enabled = -1;
};

// A loopback TCP port that nothing listens on (taken from the system, then let go).
WORD ClosedPort() {
  const SOCKET fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = inet_addr("127.0.0.1");
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  int length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  closesocket(fd);
  return ntohs(address.sin_port);
}

ServerListRow Row(int row, const char* ip, const char* status) { return ServerListRow{row, ip, status}; }

class CommandsTest : public DocTest {
 protected:
  void SetUp() override {
    DocTest::SetUp();
    if (HasFatalFailure()) return;
    panes_ = std::make_unique<SelectionPanes>(frame_);
    doc_->SetPanes(panes_.get());
  }
  void TearDown() override {
    if (doc_) doc_->SetPanes(frame_);
    DocTest::TearDown();
  }
  // What the document's update handler says of the command, as the menus and the toolbar ask it.
  BOOL Enabled(UINT id) {
    RecordingCmdUI ui;
    ui.m_nID = id;
    EXPECT_TRUE(doc_->OnUpdateCommand(&ui)) << "the document has an update rule for " << id;
    EXPECT_EQ(ui.enabled, doc_->IsCommandEnabled(id));
    return ui.enabled;
  }
  std::vector<UINT> EnabledOf(std::initializer_list<UINT> ids) {
    std::vector<UINT> on;
    for (UINT id : ids)
      if (Enabled(id)) on.push_back(id);
    return on;
  }

  std::unique_ptr<SelectionPanes> panes_;
  RecordingDialogs dialogs_;
};

const std::initializer_list<UINT> kServerCommands = {ID_SEARCH_SERVERS, ID_UNLOCK, ID_UPGRADE_FIRMWARE,
                                                     ID_SERVER_CONFIGURATION, ID_RESTORE_FACTORY_DEFAULTS};

TEST_F(CommandsTest, ServerManagerCommandsFollowTheSelectedRowsAndWaitForTheirDialogs) {
  // The frame gave the document the program's dialogs: Search is there at once.
  EXPECT_TRUE(Enabled(ID_SEARCH_SERVERS));
  // Without the dialogs only Restore (which needs none) can be enabled.
  doc_->SetServerDialogs(nullptr);
  panes_->rows = {Row(0, "127.0.0.7", "")};
  EXPECT_EQ(EnabledOf(kServerCommands), std::vector<UINT>{ID_RESTORE_FACTORY_DEFAULTS});
  Command(ID_UNLOCK);
  EXPECT_TRUE(doc_->GetSelectedServers().IsEmpty());

  doc_->SetServerDialogs(&dialogs_);
  panes_->rows = {};
  EXPECT_EQ(EnabledOf(kServerCommands), std::vector<UINT>{ID_SEARCH_SERVERS});
  panes_->rows = {Row(2, "127.0.0.7", "Locked")};
  EXPECT_EQ(EnabledOf(kServerCommands), (std::vector<UINT>{ID_SEARCH_SERVERS, ID_UNLOCK}));
  panes_->rows = {Row(2, "127.0.0.7", "Unlocked")};
  EXPECT_EQ(EnabledOf(kServerCommands), (std::vector<UINT>{ID_SEARCH_SERVERS, ID_UPGRADE_FIRMWARE,
                                                           ID_SERVER_CONFIGURATION, ID_RESTORE_FACTORY_DEFAULTS}));
  // Two unlocked servers can be upgraded together, and nothing else; one locked among them stops that.
  panes_->rows = {Row(0, "127.0.0.7", ""), Row(1, "127.0.0.8", "Unlocked")};
  EXPECT_EQ(EnabledOf(kServerCommands), (std::vector<UINT>{ID_SEARCH_SERVERS, ID_UPGRADE_FIRMWARE}));
  panes_->rows = {Row(0, "127.0.0.7", ""), Row(1, "127.0.0.8", "Locked")};
  EXPECT_EQ(EnabledOf(kServerCommands), std::vector<UINT>{ID_SEARCH_SERVERS});
}

TEST_F(CommandsTest, DeviceCommandsFollowTheStateTextOnlyWhileMappingRuns) {
  const std::initializer_list<UINT> device = {ID_START_DEVICE_MAPPING, ID_STOP_DEVICE_MAPPING, ID_CONNECT,
                                              ID_DISCONNECT, ID_PRINTER_AUTO_CONNECT};
  panes_->deviceSelected = true;
  panes_->deviceState = "Free";
  EXPECT_EQ(EnabledOf(device), std::vector<UINT>{ID_START_DEVICE_MAPPING});

  StartHost();
  StartMappingWithBus();
  doc_->SetServerDialogs(&dialogs_);
  struct Case {
    const char* state;
    BOOL connect, disconnect;
  };
  for (const Case& c : {Case{"Free", TRUE, FALSE}, Case{"", TRUE, FALSE}, Case{"Connected", FALSE, TRUE},
                        Case{"Loading...", FALSE, TRUE}, Case{"Loading Failed", FALSE, TRUE},
                        Case{"Unload Failed", FALSE, FALSE}, Case{"Unloading...", FALSE, FALSE},
                        Case{"Busy", FALSE, FALSE}}) {
    panes_->deviceState = c.state;
    EXPECT_EQ(Enabled(ID_CONNECT), c.connect) << c.state;
    EXPECT_EQ(Enabled(ID_DISCONNECT), c.disconnect) << c.state;
  }
  // A server row (or nothing) selected: neither.
  panes_->deviceSelected = false;
  EXPECT_EQ(EnabledOf(device), (std::vector<UINT>{ID_STOP_DEVICE_MAPPING, ID_PRINTER_AUTO_CONNECT}));

  // The device tree's menu: nothing on a server row; on a device row only Connect and Disconnect, as the
  // rules have them.
  doc_->ShowDeviceMappingMenu(frame_, POINT{5, 5}, FALSE, TRUE);
  EXPECT_TRUE(panes_->menus.empty());
  panes_->deviceSelected = true;
  panes_->deviceState = "Connected";
  doc_->ShowDeviceMappingMenu(frame_, POINT{5, 5}, TRUE, TRUE);
  ASSERT_EQ(panes_->menus.size(), 1u);
  const ContextMenu& tree = panes_->menus.back();
  EXPECT_EQ(tree.MenuId, IDR_DEVICE_MAPPING);
  EXPECT_EQ(tree.IconBitmap, IDB_DEVICE_MAPPING_MENU_ICONS);
  EXPECT_EQ(tree.Removed, (std::vector<UINT>{ID_START_DEVICE_MAPPING, ID_STOP_DEVICE_MAPPING, ID_PRINTER_AUTO_CONNECT}));
  EXPECT_TRUE(tree.RemoveSeparators);
  EXPECT_EQ(tree.Disabled, std::vector<UINT>{ID_CONNECT});
  // The navigation pane's full form while mapping runs: Start disabled.
  doc_->ShowDeviceMappingMenu(frame_, POINT{5, 5}, TRUE, FALSE);
  EXPECT_TRUE(panes_->menus.back().Removed.empty());
  EXPECT_EQ(panes_->menus.back().Disabled, (std::vector<UINT>{ID_START_DEVICE_MAPPING, ID_CONNECT}));
  // The tray's menu offers the mapping commands as they stand, tracked from the bottom.
  doc_->ShowTrayMenu(frame_, POINT{5, 5});
  EXPECT_EQ(panes_->menus.back().MenuId, IDR_TRAY_MENU);
  EXPECT_EQ(panes_->menus.back().TrackFlags, static_cast<UINT>(TPM_RIGHTBUTTON | TPM_BOTTOMALIGN));
  EXPECT_EQ(panes_->menus.back().Disabled, std::vector<UINT>{ID_START_DEVICE_MAPPING});
}

TEST_F(CommandsTest, TheServerManagerMenuAndTheDetailsMenuFollowTheSelection) {
  doc_->SetServerDialogs(&dialogs_);
  panes_->rows = {Row(0, "127.0.0.7", "Locked")};
  doc_->ShowServerManagerMenu(frame_, POINT{1, 1});
  ASSERT_EQ(panes_->menus.size(), 1u);
  EXPECT_EQ(panes_->menus[0].MenuId, IDR_SERVER_MANAGER);
  EXPECT_EQ(panes_->menus[0].Disabled,
            (std::vector<UINT>{ID_UPGRADE_FIRMWARE, ID_SERVER_CONFIGURATION, ID_RESTORE_FACTORY_DEFAULTS}));
  doc_->ShowDetailsMenu(frame_, POINT{1, 1});
  EXPECT_TRUE(panes_->menus.back().Disabled.empty());
  panes_->rows = {};
  doc_->ShowDetailsMenu(frame_, POINT{1, 1});
  EXPECT_EQ(panes_->menus.back().Disabled, std::vector<UINT>{ID_REFRESH_DETAILS});
}

TEST_F(CommandsTest, UnlockAndConfigurationGatherTheFirstRowAndMarkIt) {
  doc_->SetServerDialogs(&dialogs_);
  ServerDiscoveryRecord found{};
  strcpy(found.ServerIp, "127.0.0.8");
  found.ModelCode = 1;
  {
    tavrin::CriticalSectionGuard hold(doc_->m_csDiscoveredServers);
    doc_->m_DiscoveredServers.AddTail(found);
  }
  panes_->rows = {Row(3, "127.0.0.8", "Locked")};
  Command(ID_UNLOCK);
  EXPECT_EQ(dialogs_.runs, std::vector<std::string>{"unlock"});
  ASSERT_EQ(doc_->GetSelectedServers().GetCount(), 1);
  const SelectedServerEntry& entry = doc_->GetSelectedServers().GetHead();
  EXPECT_EQ(entry.CommandPort, 1341u);
  EXPECT_STREQ(entry.ServerIp, "127.0.0.8");
  EXPECT_EQ(entry.Server.ModelCode, 1) << "the discovery record of that address";
  EXPECT_EQ(panes_->cells, std::vector<std::string>{"3:4:Unlocked"});
  // A refused password ends the dialog with IDCANCEL: the row stays.
  dialogs_.result = IDCANCEL;
  Command(ID_UNLOCK);
  EXPECT_EQ(panes_->cells.size(), 1u);

  // The configuration: the status follows the password setting, the address the new one.
  dialogs_.result = IDOK;
  dialogs_.passwordEnableResult = 0;
  dialogs_.newIpResult = "127.0.0.9";
  panes_->rows = {Row(1, "127.0.0.8", ""), Row(2, "127.0.0.10", "")};
  Command(ID_SERVER_CONFIGURATION);
  EXPECT_EQ(doc_->GetSelectedServers().GetCount(), 1) << "only the first row";
  EXPECT_EQ(panes_->cells, (std::vector<std::string>{"3:4:Unlocked", "1:4:", "1:3:127.0.0.9"}));
  ASSERT_FALSE(boxes_.empty());
  EXPECT_EQ(boxes_.back().text, "Server  ( 127.0.0.8 ) configuration saved successfully !!");
  // The firmware takes every selected row in list order.
  Command(ID_UPGRADE_FIRMWARE);
  ASSERT_EQ(doc_->GetSelectedServers().GetCount(), 2);
  EXPECT_STREQ(doc_->GetSelectedServers().GetTail().ServerIp, "127.0.0.10");
}

TEST_F(CommandsTest, RestoreAsksFirstAndAFailedCommandStillClosesItsWaitWindow) {
  ServerCommSettings settings = GetDefaultServerCommSettings();
  const ServerCommSettings saved = settings;
  settings.commandPort = ClosedPort();  // nothing answers there
  settings.processDelayMs = 0;
  SetDefaultServerCommSettings(settings);
  struct Restore {
    ServerCommSettings saved;
    ~Restore() { SetDefaultServerCommSettings(saved); }
  } restore{saved};
  panes_->rows = {Row(0, "127.0.0.1", "")};

  answer_ = [](const Box&) { return IDCANCEL; };
  Command(ID_RESTORE_FACTORY_DEFAULTS);
  EXPECT_EQ(boxes_.size(), 1u);
  EXPECT_TRUE(panes_->waitKinds.empty()) << "a cancelled question sends nothing";

  answer_ = nullptr;
  Command(ID_RESTORE_FACTORY_DEFAULTS);
  EXPECT_EQ(panes_->waitKinds, std::vector<int>{kWaitProgressMoving});
  ASSERT_TRUE(PumpUntil([&] { return panes_->waitCloses == 1; })) << ReadLog();
  ASSERT_GE(boxes_.size(), 3u);
  EXPECT_EQ(boxes_.back().text, "Restored Factory Defaults Failed !!");
  EXPECT_EQ(boxes_.back().type & MB_ICONERROR, static_cast<UINT>(MB_ICONERROR));
  EXPECT_NE(ReadLog().find("Restored Factory Defaults Failed !!Error Code: "), std::string::npos);

  // Behind another operation's wait window the restore is refused: nothing sent, nothing to close.
  panes_->waitWindowBusy = true;
  const size_t boxesBefore = boxes_.size() + 1;  // the question only
  Command(ID_RESTORE_FACTORY_DEFAULTS);
  EXPECT_EQ(boxes_.size(), boxesBefore);
  EXPECT_EQ(panes_->waitCloses, 1);
  EXPECT_NE(ReadLog().find("another operation is under way; refused"), std::string::npos);
}

}  // namespace
}  // namespace admin_doc_test
