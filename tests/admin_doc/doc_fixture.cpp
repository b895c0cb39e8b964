#include "doc_fixture.h"

#include "admin/Resource.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "testsupport/admin_app.h"
#include "testsupport/admin_helpers.h"
#include "testsupport/sanitizers.h"
#include "win32/windows.h"

namespace admin_doc_test {

uint32_t ServerAddress(int last) { return 0x0000007Fu | (static_cast<uint32_t>(last) << 24); }

std::string ServerText(int last) { return "127.0.0." + std::to_string(last); }

void DocTest::SetUp() {
  SysrootTest::SetUp();
  tavrin::test::SetAdminTestParameters(600000);
  if (HasFatalFailure()) return;
  tavrin::SetMessageBoxSink([this](const std::string& text, const std::string&, UINT type) {
    boxes_.push_back({text, type});
    return answer_ ? answer_(boxes_.back()) : IDOK;
  });
  tavrin::test::StartAdminApp(app_);
  if (HasFatalFailure()) return;
  doc_ = app_->GetDocument();
  frame_ = GetAdminMainFrame();
  ASSERT_NE(doc_, nullptr);
  ASSERT_NE(frame_->GetFunctionView(), nullptr);
  ASSERT_NE(frame_->GetBottemFormView(), nullptr);
  ASSERT_NE(frame_->GetDetailsFormView(), nullptr);
  // The suite does not wait out the product's pauses.
  DocPauses pauses;
  pauses.StopPumpMs = 0;
  pauses.BusUpDelayMs = 1;
  doc_->SetPauses(pauses);
  // The broadcast listener hears only this machine, on a port of its own.
  doc_->m_ulDeviceListAddress = inet_addr("127.0.0.1");
  doc_->m_wDeviceListPort = 0;
}

void DocTest::TearDown() {
  tavrin::test::StopAdminApp(app_);
  // The closed main window left its WM_QUIT in this thread's queue: the next test starts without it.
  MSG msg;
  while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
  host_.reset();
  tavrin::SetMessageBoxSink({});
  SysrootTest::TearDown();
}

void DocTest::StartHost() { StartHost({"--fake-control-device"}); }

void DocTest::StartHost(const std::vector<std::string>& options) {
  host_.reset();  // the old host leaves the sysroot's socket before the new one binds it
  host_ = std::make_unique<tavrin::test::KernelHostProcess>(KERNEL_HOST_PROGRAM, root().string(), options);
  ASSERT_TRUE(host_->WaitReady(10000));
}

void DocTest::StartMappingWithBus() {
  Command(ID_START_DEVICE_MAPPING);
  ASSERT_TRUE(doc_->IsDeviceMappingStarted());
  ASSERT_TRUE(PumpUntil([&] { return doc_->IsListenerRunning(); })) << ReadLog();
  EXPECT_NE(doc_->Bus().GetHandle(), INVALID_HANDLE_VALUE);
  EXPECT_TRUE(doc_->IsDeviceThreadRunning());
  EXPECT_TRUE(boxes_.empty()) << boxes_[0].text;
}

bool DocTest::PumpUntil(const std::function<bool()>& done, int milliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + tavrin::test::Patient(std::chrono::milliseconds(milliseconds));
  while (!done()) {
    if (quit_ || std::chrono::steady_clock::now() > deadline) return false;
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        quit_ = true;
        break;
      }
      if (!app_->PreTranslateMessage(&msg)) {
        TranslateMessage(&msg);
        DispatchMessage(&msg);
      }
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return true;
}

void DocTest::Refresh() { frame_->GetFunctionView()->SendMessage(WM_TIMER, kRefreshTimer, 0); }

void DocTest::PumpFor(int milliseconds) {
  PumpUntil([] { return false; }, milliseconds);
}

void DocTest::Command(UINT id) { frame_->SendMessage(WM_COMMAND, id, 0); }

std::string DocTest::ReadLog() const { return tavrin::test::ReadAdminLog(); }

std::vector<std::string> DocTest::MappingLogTexts() const {
  std::vector<std::string> texts;
  CBottemFormView* log = doc_ ? frame_->GetBottemFormView() : nullptr;
  if (!log) return texts;
  for (const LogRow& row : log->GetDeviceMappingLog()) texts.push_back(row.Text.str());
  return texts;
}

bool DocTest::MappingLogHas(const std::string& text) const {
  for (const std::string& row : MappingLogTexts())
    if (row == text) return true;
  return false;
}

void DocTest::QueueServerRequest(int slot, bool arrival, int serverLast) {
  doc_->ServerRequests().Edit(slot, [&](SERVER_ARRIVALREMOVAL_INFO& s) {
  s = {};
  s.RequestId = static_cast<uint32_t>(slot + 1);
  s.Length = SERVER_ARRIVALREMOVAL_INFO_LENGTH;
  s.Arrival = arrival ? 1 : 0;
  s.ServerId = 0x5000u + static_cast<uint32_t>(serverLast);
  s.ServerIp = ServerAddress(serverLast);
  s.DataPort = 3240;
  s.Status = ARRM_STATUS_PENDING;
  });
}

void DocTest::QueueDeviceRequest(int slot, bool arrival, int serverLast, WORD port, DWORD length) {
  doc_->DeviceRequests().Edit(slot, [&](DEVICE_ARRIVALREMOVAL_INFO& s) {
  s = {};
  s.RequestId = static_cast<uint32_t>(slot + 1);
  s.Length = length;
  s.Arrival = arrival ? 1 : 0;
  s.DeviceInfoLength = DEVICE_INFO_LENGTH;
  s.PortNum = port;
  s.Vid = 0x1A2B;
  s.Pid = 0x3C4D;
  // The identifier block belongs to the slot until the answer handler frees it.
  void* ids = arrival ? std::calloc(1, 252) : nullptr;
  s.Ids = reinterpret_cast<uintptr_t>(ids);
  s.TotalSize = arrival ? 252 : 0;
  s.HardwareIdSize = arrival ? 108 : 0;
  s.ServerIp = ServerAddress(serverLast);
  s.DataPort = 0xA80C;
  s.ArRmStatus = ARRM_STATUS_PENDING;
  });
}

void DocTest::AddPresence(int serverLast) {
  ServerPresenceEntry entry{};
  std::strncpy(entry.ServerIp, ServerText(serverLast).c_str(), sizeof entry.ServerIp - 1);
  entry.Active = 1;
  entry.RequestStatus = ARRM_STATUS_PENDING;
  EnterCriticalSection(&doc_->m_csServerPresence);
  doc_->m_ServerPresenceList.AddTail(entry);
  LeaveCriticalSection(&doc_->m_csServerPresence);
}

void DocTest::AddDevice(int serverLast, WORD port, DWORD state, bool listed) {
  DeviceEntry device{};
  std::strncpy(device.ServerIp, ServerText(serverLast).c_str(), sizeof device.ServerIp - 1);
  device.PortNum = port;
  device.State = state;
  device.RequestStatus = ARRM_STATUS_PENDING;
  device.ConnectionLost = 1;
  // Listed: as if its server's device list had named it, so the periodic departure check, which may run
  // at any moment of a test, leaves it alone once connected instead of disconnecting it.
  device.SeenCount = listed ? 1 : 0;
  EnterCriticalSection(&doc_->m_csDeviceList);
  doc_->m_DeviceList.AddTail(device);
  LeaveCriticalSection(&doc_->m_csDeviceList);
}

DeviceEntry DocTest::FindDevice(int serverLast, WORD port) {
  DeviceEntry found{};
  doc_->ForEachDevice([&](const DeviceEntry& device) {
    if (ServerText(serverLast) == device.ServerIp && device.PortNum == port) found = device;
  });
  return found;
}

SERVER_ARRIVALREMOVAL_INFO DocTest::ServerSlot(int slot) {
  EnterCriticalSection(&doc_->ServerRequests().Lock());
  SERVER_ARRIVALREMOVAL_INFO copy = doc_->ServerRequests().At(slot);
  LeaveCriticalSection(&doc_->ServerRequests().Lock());
  return copy;
}

DEVICE_ARRIVALREMOVAL_INFO DocTest::DeviceSlot(int slot) {
  EnterCriticalSection(&doc_->DeviceRequests().Lock());
  DEVICE_ARRIVALREMOVAL_INFO copy = doc_->DeviceRequests().At(slot);
  LeaveCriticalSection(&doc_->DeviceRequests().Lock());
  return copy;
}

}  // namespace admin_doc_test
