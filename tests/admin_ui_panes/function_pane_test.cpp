// The functional pane: the device tree as the document's lists and the drivers' answers make it (texts,
// pictures, colours, the busy device shown late, the disconnect that never got its answer), and the server
// list of a search with the selection the Server Manager commands use.
#include <gtest/gtest.h>

#include "admin/ui/NoticeDlg.h"
#include "win32/gdi_hooks.h"
#include "panes_fixture.h"
#include "testsupport/message_pump.h"

namespace panes_test {
namespace {

// Shown in its pane (the pane itself may be in a hidden window).
bool Shown(const CWnd& window) { return (window.GetStyle() & WS_VISIBLE) != 0; }

using FunctionPaneTest = PanesTest;

const TreeServerItem* FindServer(const std::vector<TreeServerItem>& tree, int last) {
  for (const TreeServerItem& server : tree)
    if (server.Text.str().rfind(Ip(last) + " ", 0) == 0) return &server;
  return nullptr;
}

TreeDeviceItem FindDevice(const std::vector<TreeServerItem>& tree, int last, WORD port) {
  if (const TreeServerItem* server = FindServer(tree, last))
    for (const TreeDeviceItem& device : server->Devices)
      if (device.Port == std::to_string(port).c_str()) return device;
  return {};
}

TEST_F(FunctionPaneTest, ServersAndDevicesShowTheirStates) {
  AddServer(2, ARRM_STATUS_SUCCESS);
  AddServer(3, ARRM_STATUS_PENDING);
  AddDevice(2, 1, 7, 0x03F0, 0x1017, "Office LaserPrinter 1020");
  AddDevice(2, 2, 8, 0x0781, 0x5567).BusyFlag = 1;
  AddDevice(3, 1, 3, 0x046D, 0xC077);
  ShowLists();
  const std::vector<TreeServerItem> tree = functions_->GetDeviceTree();
  ASSERT_EQ(tree.size(), 2u);
  EXPECT_EQ(tree[0].Text, "127.0.0.2 ( Loaded Successfully )");
  EXPECT_EQ(tree[1].Text, "127.0.0.3 ( Loading... )");
  EXPECT_TRUE(tree[1].Devices.empty()) << "a server whose arrival is under way shows its devices later";
  const TreeDeviceItem printer = FindDevice(tree, 2, 1);
  EXPECT_EQ(printer.Name, "Office LaserPrinter 1020");
  EXPECT_EQ(printer.ClassName, CTavrinAdminDoc::GetDeviceClassName(7));
  EXPECT_EQ(printer.State, "Free");
  EXPECT_EQ(printer.Image, TREE_IMAGE_FREE);
  EXPECT_EQ(printer.StateColor, RGB(85, 177, 45));
  const TreeDeviceItem disk = FindDevice(tree, 2, 2);
  EXPECT_EQ(disk.Name, "Vid_0781&Pid_5567");
  EXPECT_EQ(disk.State, "Busy");
  EXPECT_EQ(disk.Image, TREE_IMAGE_BUSY);
  EXPECT_EQ(disk.StateColor, RGB(255, 0, 0));

  // A request in flight and its answer.
  EnterCriticalSection(&doc_->m_csDeviceList);
  DeviceEntry& entry = doc_->m_DeviceList.GetAt(doc_->GetDevicePosition(Ip(2).c_str(), 1));
  entry.State = DEVICE_STATE_CONNECT_REQUESTED;
  entry.RequestStatus = ARRM_STATUS_PENDING;
  LeaveCriticalSection(&doc_->m_csDeviceList);
  ShowLists();
  EXPECT_EQ(FindDevice(functions_->GetDeviceTree(), 2, 1).State, "Loading...");
  EXPECT_EQ(FindDevice(functions_->GetDeviceTree(), 2, 1).StateColor, RGB(0, 147, 181));

  // The server leaves: its row is taken away with its devices.
  functions_->DeleteServerItem(Ip(2).c_str());
  EXPECT_EQ(FindServer(functions_->GetDeviceTree(), 2), nullptr);
  EXPECT_EQ(functions_->FindTreeRow(Ip(2).c_str(), 1), nullptr);
}

TEST_F(FunctionPaneTest, ADeviceBusyAfterItsDisconnectShowsBusyOnlyAfterThreeRefreshes) {
  AddServer(2, ARRM_STATUS_SUCCESS);
  AddDevice(2, 4, 8, 0x0781, 0x5567);
  ShowLists();
  EnterCriticalSection(&doc_->m_csDeviceList);
  DeviceEntry& entry = doc_->m_DeviceList.GetAt(doc_->GetDevicePosition(Ip(2).c_str(), 4));
  entry.State = DEVICE_STATE_DISCONNECTED;
  entry.RequestStatus = ARRM_STATUS_SUCCESS;
  entry.BusyFlag = 1;
  LeaveCriticalSection(&doc_->m_csDeviceList);
  for (int refresh = 1; refresh <= 3; ++refresh) {
    ShowLists();
    EXPECT_EQ(FindDevice(functions_->GetDeviceTree(), 2, 4).State, "Free") << "refresh " << refresh;
    EXPECT_EQ(FindDevice(functions_->GetDeviceTree(), 2, 4).BusyRefreshes, refresh);
  }
  ShowLists();
  EXPECT_EQ(FindDevice(functions_->GetDeviceTree(), 2, 4).State, "Busy");
  EXPECT_EQ(FindDevice(functions_->GetDeviceTree(), 2, 4).BusyRefreshes, 0);
}

TEST_F(FunctionPaneTest, ADisconnectWithoutAnswerFailsAndOneNoticeAsksForAReboot) {
  AddServer(2, ARRM_STATUS_SUCCESS);
  for (WORD port : {1, 2}) {
    DeviceEntry& device = AddDevice(2, port, 8, 0x0781, static_cast<WORD>(0x5560 + port), port == 1 ? "Disk One" : "Disk Two");
    device.State = DEVICE_STATE_DISCONNECT_REQUESTED;
    device.RequestStatus = ARRM_STATUS_PENDING;
    device.UnloadStartTick = GetTickCount();
  }
  ShowLists();
  EXPECT_EQ(FindDevice(functions_->GetDeviceTree(), 2, 1).State, "Unloading...");
  EXPECT_EQ(doc_->GetUnloadNotice(), nullptr);

  EnterCriticalSection(&doc_->m_csDeviceList);
  doc_->m_DeviceList.GetAt(doc_->GetDevicePosition(Ip(2).c_str(), 1)).UnloadStartTick = GetTickCount() - 30500;
  LeaveCriticalSection(&doc_->m_csDeviceList);
  ShowLists();
  EXPECT_EQ(FindDevice(functions_->GetDeviceTree(), 2, 1).State, "Unload Failed");
  EXPECT_EQ(Device(2, 1).RequestStatus, static_cast<DWORD>(ARRM_STATUS_FAILED));
  EXPECT_EQ(FindDevice(functions_->GetDeviceTree(), 2, 2).State, "Unloading...");
  auto* first = dynamic_cast<CNoticeDlg*>(doc_->GetUnloadNotice());
  ASSERT_NE(first, nullptr);
  HWND firstWindow = first->GetSafeHwnd();
  ASSERT_TRUE(IsWindowVisible(firstWindow));
  CString caption, text;
  first->GetWindowText(caption);
  CWnd::FromHandle(GetDlgItem(firstWindow, 1091))->GetWindowText(text);
  EXPECT_EQ(caption, "Unload Failure");
  EXPECT_EQ(text, "PC needs a reboot. Otherwise ' Disk One ' device may not work properly.\n");
  EXPECT_EQ(GetWindow(firstWindow, GW_OWNER), nullptr) << "the notice belongs to no window of the program";

  // The second device's notice replaces the first.
  EnterCriticalSection(&doc_->m_csDeviceList);
  doc_->m_DeviceList.GetAt(doc_->GetDevicePosition(Ip(2).c_str(), 2)).UnloadStartTick = GetTickCount() - 30500;
  LeaveCriticalSection(&doc_->m_csDeviceList);
  ShowLists();
  EXPECT_FALSE(IsWindow(firstWindow));
  auto* second = dynamic_cast<CNoticeDlg*>(doc_->GetUnloadNotice());
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->m_strText, "PC needs a reboot. Otherwise ' Disk Two ' device may not work properly.\n");
}

TEST_F(FunctionPaneTest, TheDriversAnswersReachTheLogAndTheStatusLine) {
  AddServer(2, ARRM_STATUS_PENDING);
  AddDevice(2, 1, 7, 0x03F0, 0x1017);
  int slot = -1;
  doc_->ServerRequests().Edit(3, [&](SERVER_ARRIVALREMOVAL_INFO& s) {
    s.RequestId = 4;
    s.Taken = 1;
    s.Arrival = 1;
    s.ServerIp = inet_addr(Ip(2).c_str());
    s.Status = ARRM_STATUS_SUCCESS;
    slot = 3;
  });
  ASSERT_EQ(slot, 3);
  functions_->SendMessage(WM_SERVER_ARRM_ANSWER, 4, 0);
  EXPECT_EQ(functions_->GetDeviceTree()[0].Text, "127.0.0.2 ( Loaded Successfully )") << "the row shows the answer at once";
  doc_->DeviceRequests().Edit(0, [&](DEVICE_ARRIVALREMOVAL_INFO& s) {
    s.RequestId = 1;
    s.Taken = 1;
    s.Arrival = 1;
    s.ServerIp = inet_addr(Ip(2).c_str());
    s.PortNum = 1;
    s.ArRmStatus = ARRM_STATUS_FAILED;
  });
  functions_->SendMessage(WM_DEVICE_ARRM_ANSWER, 1, 0);
  const std::vector<LogRow> rows = log_->GetDeviceMappingLog();
  ASSERT_GE(rows.size(), 2u);
  EXPECT_EQ(rows[rows.size() - 2].Text, "Server (127.0.0.2) Arrival Notification Successful.!!");
  EXPECT_EQ(rows.back().Text, "Device 127.0.0.2 : 1 Connect Intimation Failed!");
  EXPECT_EQ(frame_->GetStatusText(), "Device 127.0.0.2 : 1 Connect Intimation Failed!");
  ShowLists();
  EXPECT_EQ(FindDevice(functions_->GetDeviceTree(), 2, 1).State, "Loading Failed");
  EXPECT_EQ(doc_->ServerRequests().At(3).RequestId, 0u) << "the slot is free again";

  // WM_USER+4: a string for the status line.
  functions_->SendMessage(WM_STATUS_TEXT_ID, 1010, 0);
  EXPECT_EQ(frame_->GetStatusText(), "Started Device Mapping Functionality.");
}

ServerDiscoveryRecord Found(int last, bool locked, BYTE model = 0) {
  ServerDiscoveryRecord record{};
  record.CommandPort = 1341;
  std::strncpy(record.ServerIp, Ip(last).c_str(), sizeof record.ServerIp - 1);
  record.ModelCode = model;
  const BYTE mac[6] = {0x00, 0x1a, 0x2b, 0x0c, 0x4d, static_cast<BYTE>(last)};
  std::memcpy(record.MacAddress, mac, sizeof mac);
  record.LockFlag = locked ? 1 : 0;
  return record;
}

TEST_F(FunctionPaneTest, SearchResultsListEachServerOnceWithItsLockAndSelection) {
  ServerDiscoveryList found;
  found.AddTail(Found(2, false));
  found.AddTail(Found(2, false));  // answered twice in a row
  found.AddTail(Found(3, true, 1));
  found.AddTail(Found(4, false, 9));
  functions_->ShowSearchResults(found);
  CHeaderListCtrl& list = functions_->m_lstServers;
  ASSERT_EQ(list.GetItemCount(), 3);
  EXPECT_EQ(list.GetItemText(1, SERVER_COL_NUMBER), "2");
  EXPECT_EQ(list.GetItemText(1, SERVER_COL_MODEL), "Zarnet-1");
  EXPECT_EQ(list.GetItemText(2, SERVER_COL_MODEL), "Unknown");
  EXPECT_EQ(list.GetItemText(1, SERVER_COL_MAC), "0-1a-2b-c-4d-3");
  EXPECT_EQ(list.GetItemText(1, SERVER_COL_IP), "127.0.0.3");
  EXPECT_EQ(list.GetItemText(1, SERVER_COL_STATUS), "Locked");
  EXPECT_EQ(list.GetItemText(0, SERVER_COL_STATUS), "");
  EXPECT_EQ(log_->GetServerManagerLog().back().Text, "3 Server(s) Found");

  EXPECT_EQ(functions_->GetSelectedServerCount(), 0);
  EXPECT_TRUE(functions_->IsSelectedServerUnlocked());
  list.SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
  EXPECT_EQ(functions_->GetSelectedServerCount(), 1);
  EXPECT_FALSE(functions_->IsSelectedServerUnlocked());

  // A double click on the locked server only says so.
  NMHDR click{list.GetSafeHwnd(), 1016, NM_DBLCLK};
  functions_->SendMessage(WM_NOTIFY, 1016, reinterpret_cast<LPARAM>(&click));
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Server is password protected !!");
  EXPECT_EQ(boxes_[0].type, static_cast<UINT>(MB_ICONINFORMATION));

  list.SetItemState(2, LVIS_SELECTED, LVIS_SELECTED);
  const std::vector<ServerListRow> selected = functions_->GetSelectedServerRows();
  ASSERT_EQ(selected.size(), 2u);
  EXPECT_EQ(selected[0].Row, 1);
  EXPECT_EQ(selected[0].Ip, "127.0.0.3");
  EXPECT_EQ(selected[0].Status, "Locked");
  EXPECT_EQ(selected[1].Ip, "127.0.0.4");
  functions_->SetServerRowText(1, kServerListStatusColumn, "Unlocked");
  EXPECT_EQ(list.GetItemText(1, SERVER_COL_STATUS), "Unlocked");
  EXPECT_TRUE(functions_->IsSelectedServerUnlocked());

  functions_->ShowSearchResults(ServerDiscoveryList{});
  EXPECT_EQ(list.GetItemCount(), 0);
  EXPECT_EQ(log_->GetServerManagerLog().back().Text, "No Servers found !!");
}

// Selecting rows and painting the frame again and again leaves no drawing object behind.
TEST_F(FunctionPaneTest, SelectionChangesAndRepaintsKeepTheDrawingObjectsAtTheirCount) {
  for (int last = 2; last <= 4; ++last) {
    AddServer(last, ARRM_STATUS_SUCCESS);
    for (WORD port = 1; port <= 4; ++port) AddDevice(last, port, port == 1 ? 7 : 8, 0x03F0, static_cast<WORD>(0x1000 + port));
  }
  ShowLists();
  frame_->ShowWindow(SW_SHOW);
  std::vector<HTREEITEM> rows;
  for (int last = 2; last <= 4; ++last)
    for (WORD port = 0; port <= 4; ++port) rows.push_back(functions_->FindTreeRow(Ip(last).c_str(), port));
  auto selectAndPaint = [&](int i) {
    functions_->m_treeDevices.SelectItem(nullptr);
    functions_->m_treeDevices.SelectItem(rows[static_cast<size_t>(i) % rows.size()]);
    NMHDR click{functions_->m_treeDevices.GetSafeHwnd(), 1021, NM_CLICK};
    functions_->SendMessage(WM_NOTIFY, 1021, reinterpret_cast<LPARAM>(&click));
    frame_->RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  };
  selectAndPaint(0);  // every font, brush and picture the panes keep is made by now
  const size_t baseline = tavrin::gdi::LiveObjectCount();
  for (int i = 1; i <= 100; ++i) selectAndPaint(i);
  EXPECT_EQ(tavrin::gdi::LiveObjectCount(), baseline);
  EXPECT_FALSE(details_->GetDeviceDetails().empty());
}

TEST_F(FunctionPaneTest, TheListShownFollowsTheViewMode) {
  EXPECT_TRUE(Shown(functions_->m_treeDevices));
  EXPECT_FALSE(Shown(functions_->m_lstServers));
  doc_->m_ViewModeFlags[kFunctionDeviceMapping] = 0;
  doc_->m_ViewModeFlags[kFunctionServerManager] = 1;
  doc_->UpdateAllViews(nullptr);
  EXPECT_TRUE(Shown(functions_->m_lstServers));
  EXPECT_FALSE(Shown(functions_->m_treeDevices));
}

}  // namespace
}  // namespace panes_test
