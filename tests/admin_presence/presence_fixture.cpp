#include "presence_fixture.h"

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "admin/Resource.h"
#include "admin/comm/CommSettings.h"
#include "admin/util/Utilities.h"
#include "testsupport/admin_app.h"
#include "testsupport/admin_helpers.h"
#include "testsupport/sanitizers.h"
#include "win32/registry.h"
#include "win32/ioctl.h"
#include "win32/windows.h"
#include "win32/winsock.h"

namespace presence_test {
namespace {

// Product strings are asked for on one command port shared by every simulated server; quick time-outs.
void SetCommSettings(uint16_t commandPort) {
  ServerCommSettings settings;
  settings.commandPort = commandPort;
  settings.commandRecvTimeoutMs = 100;
  settings.commandRecvTimeoutLimit = 20;
  settings.processDelayMs = 0;
  settings.productStringAttempts = 1;
  SetDefaultServerCommSettings(settings);
}

}  // namespace

std::string Ip(int last) { return "127.0.0." + std::to_string(last); }
ULONG NetIp(int last) { return inet_addr(Ip(last).c_str()); }

zarnet::__dev_info__ DevInfo(uint16_t port, uint8_t cls, uint16_t vid, uint16_t pid, uint16_t rev, uint8_t busy,
                             uint8_t interfaces) {
  zarnet::__dev_info__ info{};
  info.cid[0] = cls;
  info.cid[1] = 1;
  info.cid[2] = 2;
  info.rev = rev;
  info.pid = pid;
  info.vid = vid;
  info.b_f = busy;
  info.portnum = port;
  info.speed = 2;
  info.numINT = interfaces;
  return info;
}

zarnet::sim::Device SimDevice(uint16_t port, uint8_t cls, uint16_t vid, uint16_t pid, uint16_t rev,
                              const std::string& product) {
  zarnet::sim::Device device;
  device.port = port;
  device.device_class = cls;
  device.vid = vid;
  device.pid = pid;
  device.rev = rev;
  device.product = product;
  return device;
}

std::string ReadTraceLog() { return tavrin::test::ReadAdminLog(); }

int ThreadCount() {
  int count = 0;
  if (DIR* tasks = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(tasks))
      if (entry->d_name[0] != '.') ++count;
    closedir(tasks);
  }
  return count;
}

void InstallWindowsPrinter(const std::string& name, const DeviceEntry& device, int autoReconnect) {
  char deviceKey[64];
  snprintf(deviceKey, sizeof deviceKey, "Vid_%.4x&Pid_%.4x", device.Vid, device.Pid);
  const std::string prefix = "7&1a2b3c&" + std::to_string(device.PortNum);
  const std::string node = std::string("System\\CurrentControlSet\\Enum\\USB\\") + deviceKey + "\\5&77&0&" +
                           std::to_string(device.PortNum);
  const DWORD address = inet_addr(device.ServerIp);
  ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, node, "UINumber", address), ERROR_SUCCESS);
  ASSERT_EQ(tavrin::registry::SetString(HKEY_LOCAL_MACHINE, node, "ParentIdPrefix", prefix), ERROR_SUCCESS);
  ASSERT_EQ(tavrin::registry::SetString(HKEY_LOCAL_MACHINE, node, "Service", "usbprint"), ERROR_SUCCESS);
  const std::string spooler = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Print\\Printers\\" + name;
  ASSERT_EQ(tavrin::registry::SetString(HKEY_LOCAL_MACHINE, spooler, "Name", name), ERROR_SUCCESS);
  std::string upper = prefix;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  ASSERT_EQ(tavrin::registry::SetString(HKEY_LOCAL_MACHINE, spooler + "\\PnPData", "DeviceInstanceID",
                                        "USBPRINT\\MAKER_MODEL\\" + upper + "&0"),
            ERROR_SUCCESS);
  if (autoReconnect < 0) return;
  const std::string key = "SOFTWARE\\Tavrin\\Printers\\" + name;
  ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, key, "DeviceIP", address), ERROR_SUCCESS);
  ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, key, "DevicePort", device.PortNum), ERROR_SUCCESS);
  ASSERT_EQ(tavrin::registry::SetValue(HKEY_LOCAL_MACHINE, key, "Rev", REG_BINARY, &device.Rev, 2), ERROR_SUCCESS);
  ASSERT_EQ(tavrin::registry::SetValue(HKEY_LOCAL_MACHINE, key, "Pid", REG_BINARY, &device.Pid, 2), ERROR_SUCCESS);
  ASSERT_EQ(tavrin::registry::SetValue(HKEY_LOCAL_MACHINE, key, "Vid", REG_BINARY, &device.Vid, 2), ERROR_SUCCESS);
  ASSERT_EQ(tavrin::registry::SetDword(HKEY_LOCAL_MACHINE, key, "AutoReconnect", static_cast<DWORD>(autoReconnect)),
            ERROR_SUCCESS);
}

// ---- DocUnitTest ----

void DocUnitTest::SetUp() {
  SysrootTest::SetUp();
  tavrin::test::SetAdminTestParameters(150);
  SetCommSettings(nobody_.port());
  app_ = std::make_unique<CTavrinAdminApp>();  // log and parameters only
  ASSERT_TRUE(app_->InitLogAndParameters());
  app_->AppTraceLevel = 0;
  doc_ = std::make_unique<CTavrinAdminDoc>();
  doc_->CreateEventsAndLocks();
}

void DocUnitTest::TearDown() {
  if (doc_) {
    doc_->StopBroadcastListener();  // sets the stop flag
    doc_->StopProductStringFetches();
    doc_->WaitForPrinterMonitors();
    for (POSITION position = doc_->m_DeviceList.GetHeadPosition(); position;) {
      DeviceEntry& device = doc_->m_DeviceList.GetNext(position);
      free(device.ProductString);
    }
    doc_->m_DeviceList.RemoveAll();
    doc_->CleanUp();
    doc_.reset();
  }
  app_.reset();
  SysrootTest::TearDown();
}

void DocUnitTest::Receive(int serverLast, uint32_t serverId, const std::vector<zarnet::__dev_info__>& devices) {
  std::vector<uint8_t> datagram = zarnet::EncodeServerDeviceList(serverId, devices);
  doc_->UpdateServerPresence(Ip(serverLast).c_str(), serverId);
  doc_->UpdateDeviceInfo(Ip(serverLast).c_str(), datagram.data(), static_cast<int>(datagram.size()));
}

DeviceEntry DocUnitTest::Device(int serverLast, WORD port) {
  DeviceEntry found{};
  doc_->GetDevice(Ip(serverLast).c_str(), port, &found);
  return found;
}

int DocUnitTest::DeviceCount() {
  return doc_->GetDeviceCount();
}

ServerPresenceEntry DocUnitTest::Server(int serverLast) {
  ServerPresenceEntry found{};
  doc_->FindServerPresence(Ip(serverLast).c_str(), &found);
  return found;
}

int DocUnitTest::ServerCount() {
  return doc_->GetServerCount();
}

POSITION DocUnitTest::AddDevice(int serverLast, const zarnet::__dev_info__& info, DWORD state) {
  DeviceEntry device = MakeDeviceEntry(Ip(serverLast).c_str(), 0x5A000000u + static_cast<uint32_t>(serverLast), info);
  device.State = state;
  device.SeenCount = 1;
  device.ProductStringState = 2;
  EnterCriticalSection(&doc_->m_csDeviceList);
  POSITION position = doc_->m_DeviceList.AddTail(device);
  LeaveCriticalSection(&doc_->m_csDeviceList);
  return position;
}

std::vector<DEVICE_ARRIVALREMOVAL_INFO> DocUnitTest::QueuedDeviceRequests() {
  std::vector<DEVICE_ARRIVALREMOVAL_INFO> queued;
  for (int i = 0; i < kRequestTableSlots; ++i) {
    const DEVICE_ARRIVALREMOVAL_INFO slot = doc_->DeviceRequests().At(i);
    if (slot.RequestId != 0) queued.push_back(slot);
  }
  return queued;
}

void DocUnitTest::ReleaseDeviceSlots() {
  for (int i = 0; i < kRequestTableSlots; ++i) doc_->DeviceRequests().Release(i + 1);
}

void DocUnitTest::FillAllDeviceSlots() {
  for (int i = 0; i < kRequestTableSlots; ++i) {
    doc_->DeviceRequests().Edit(i, [i](DEVICE_ARRIVALREMOVAL_INFO& slot) {
      if (slot.RequestId == 0) slot.RequestId = i + 1;
    });
  }
}

// ---- MappingTest ----

void MappingTest::SetUp() {
  SysrootTest::SetUp();
  // A server or device departs when a whole refresh period passes without its datagram. The simulator sends
  // every 50 ms; a busy machine can hold the listener up for a while, so a period well above that keeps
  // every departure a test sees the one it caused.
  tavrin::test::SetAdminTestParameters(400);
  listenPort_ = FreeLoopbackPort(SOCK_DGRAM);
  commandPort_ = FreeLoopbackPort(SOCK_STREAM);
  SetCommSettings(commandPort_);
  tavrin::SetMessageBoxSink([this](const std::string& text, const std::string&, UINT type) {
    boxes_.push_back({text, type});
    return answer_ ? answer_(boxes_.back()) : IDOK;
  });
  host_ = std::make_unique<tavrin::kernel_host::KernelHost>(HostOptions());
  std::string error;
  ASSERT_TRUE(host_->Start(&error)) << error;

  tavrin::test::StartAdminApp(app_);
  if (HasFatalFailure()) return;
  doc_ = app_->GetDocument();
  ASSERT_NE(doc_, nullptr);
  pane_ = GetAdminMainFrame()->GetFunctionView();
  ASSERT_NE(pane_, nullptr);
  doc_->m_ulDeviceListAddress = inet_addr("127.0.0.1");
  doc_->m_wDeviceListPort = listenPort_;
  doc_->m_dwPrinterPollPeriod = 20;
  DocPauses pauses;  // the suite does not wait out the product's pauses
  pauses.StopPumpMs = 0;
  pauses.BusUpDelayMs = 1;
  doc_->SetPauses(pauses);
}

void MappingTest::TearDown() {
  tavrin::test::StopAdminApp(app_);
  sim_.Stop();
  host_.reset();
  tavrin::SetMessageBoxSink({});
  SysrootTest::TearDown();
}

void MappingTest::StartMapping() {
  GetAdminMainFrame()->SendMessage(WM_COMMAND, ID_START_DEVICE_MAPPING, 0);
  ASSERT_TRUE(doc_->IsDeviceMappingStarted());
  ASSERT_TRUE(PumpUntil([&] { return doc_->IsListenerRunning(); })) << ReadTraceLog();
}

zarnet::sim::Server& MappingTest::AddServer(int last, std::vector<zarnet::sim::Device> devices) {
  zarnet::sim::ServerOptions options = zarnet::sim::LoopbackServerOptions(last, listenPort_);
  options.command_port = commandPort_;
  options.devices = std::move(devices);
  return sim_.AddServer(options);
}

void MappingTest::StartServers() {
  std::string error;
  ASSERT_TRUE(sim_.Start(&error)) << error;
}

bool MappingTest::PumpUntil(const std::function<bool()>& done, int milliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + tavrin::test::Patient(std::chrono::milliseconds(milliseconds));
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    MSG msg;
    while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (!app_->PreTranslateMessage(&msg)) {
        TranslateMessage(&msg);
        DispatchMessage(&msg);
      }
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return true;
}

const TreeServerItem* MappingTest::ServerRow(int last) {
  tree_ = pane_->GetDeviceTree();
  for (const TreeServerItem& row : tree_) {
    const std::string text = row.Text.str();
    if (text.substr(0, text.find(' ')) == Ip(last)) return &row;
  }
  return nullptr;
}

const TreeDeviceItem* MappingTest::DeviceRow(int last, WORD port) {
  const TreeServerItem* server = ServerRow(last);
  if (!server) return nullptr;
  for (const TreeDeviceItem& row : server->Devices)
    if (row.Port == std::to_string(port).c_str()) return &row;
  return nullptr;
}

bool MappingTest::Select(int last, WORD port) {
  HTREEITEM row = pane_->FindTreeRow(Ip(last).c_str(), port);
  pane_->m_treeDevices.SelectItem(nullptr);  // one row selected, as a click leaves it
  return row && pane_->m_treeDevices.SelectItem(row);
}

std::vector<BUS_DEVICE_INFO> MappingTest::PluggedDevices() {
  // One request with room for many: the answer says how much of it was written.
  std::vector<uint8_t> answer(4 + 64 * sizeof(BUS_DEVICE_INFO));
  DWORD returned = 0;
  std::vector<BUS_DEVICE_INFO> devices;
  if (!DeviceIoControl(doc_->Bus().GetHandle(), IOCTL_BUS_GET_DEVCOUNT, answer.data(),
                       static_cast<DWORD>(answer.size()), answer.data(), static_cast<DWORD>(answer.size()), &returned,
                       nullptr) ||
      returned < 4)
    return devices;
  const uint32_t count = std::min<uint32_t>(pelkobus::Load<uint32_t>(answer.data()),
                                            static_cast<uint32_t>((returned - 4) / sizeof(BUS_DEVICE_INFO)));
  for (uint32_t i = 0; i < count; ++i)
    devices.push_back(pelkobus::Load<BUS_DEVICE_INFO>(answer.data() + 4 + i * sizeof(BUS_DEVICE_INFO)));
  return devices;
}

bool MappingTest::IsPlugged(int last, WORD port) {
  for (const BUS_DEVICE_INFO& device : PluggedDevices())
    if (device.IP == NetIp(last) && device.Port == port) return true;
  return false;
}

}  // namespace presence_test
