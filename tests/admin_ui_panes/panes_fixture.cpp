#include "panes_fixture.h"

#include <cstdlib>
#include <cstring>

#include "admin/util/UsbVendors.h"
#include "testsupport/admin_app.h"
#include "win32/windows.h"

namespace panes_test {

std::string Ip(int last) { return "127.0.0." + std::to_string(last); }

void PanesTest::SetUp() {
  SysrootTest::SetUp();
  tavrin::test::SetAdminTestParameters(200);
  if (HasFatalFailure()) return;
  tavrin::SetMessageBoxSink([this](const std::string& text, const std::string&, UINT type) {
    boxes_.push_back({text, type});
    return IDOK;
  });
  tavrin::test::StartAdminApp(app_);
  if (HasFatalFailure()) return;
  doc_ = app_->GetDocument();
  frame_ = GetAdminMainFrame();
  ASSERT_NE(frame_, nullptr);
  functions_ = frame_->GetFunctionView();
  details_ = frame_->GetDetailsFormView();
  log_ = frame_->GetBottemFormView();
  ASSERT_TRUE(functions_ && details_ && log_);
  doc_->CreateEventsAndLocks();
}

void PanesTest::TearDown() {
  if (doc_ && doc_->AreLocksReady()) {
    if (functions_) functions_->DeleteAllTreeItems();
    EnterCriticalSection(&doc_->m_csDeviceList);
    while (!doc_->m_DeviceList.IsEmpty()) std::free(doc_->m_DeviceList.RemoveHead().ProductString);
    LeaveCriticalSection(&doc_->m_csDeviceList);
    doc_->CleanUp();
  }
  tavrin::test::StopAdminApp(app_);
  tavrin::SetMessageBoxSink({});
  SysrootTest::TearDown();
}

void PanesTest::AddServer(int last, DWORD status, bool arrival) {
  ServerPresenceEntry entry{};
  std::strncpy(entry.ServerIp, Ip(last).c_str(), sizeof entry.ServerIp - 1);
  entry.Active = arrival ? 1 : 0;
  entry.RequestStatus = status;
  entry.PresenceCount = 1;
  EnterCriticalSection(&doc_->m_csServerPresence);
  doc_->m_ServerPresenceList.AddTail(entry);
  LeaveCriticalSection(&doc_->m_csServerPresence);
}

DeviceEntry& PanesTest::AddDevice(int last, WORD port, BYTE deviceClass, WORD vid, WORD pid, const char* name) {
  DeviceEntry device{};
  std::strncpy(device.ServerIp, Ip(last).c_str(), sizeof device.ServerIp - 1);
  device.PortNum = port;
  device.Class = deviceClass;
  device.Vid = vid;
  device.Pid = pid;
  device.Rev = 0x0100;
  device.State = DEVICE_STATE_FREE;
  device.RequestStatus = ARRM_STATUS_SUCCESS;
  device.VendorName = GetUsbVendorName(vid);
  device.ProductStringState = 2;
  if (name && *name) {
    device.ProductString = strdup(name);
    device.ProductStringLength = static_cast<DWORD>(std::strlen(name));
  }
  EnterCriticalSection(&doc_->m_csDeviceList);
  POSITION position = doc_->m_DeviceList.AddTail(device);
  DeviceEntry& stored = doc_->m_DeviceList.GetAt(position);
  LeaveCriticalSection(&doc_->m_csDeviceList);
  return stored;
}

DeviceEntry PanesTest::Device(int last, WORD port) {
  DeviceEntry found{};
  doc_->GetDevice(Ip(last).c_str(), port, &found);
  return found;
}

void PanesTest::ShowLists() {
  functions_->RefreshServerList();
  functions_->RefreshDeviceTree();
  functions_->ShowPendingNotices();
}

}  // namespace panes_test
