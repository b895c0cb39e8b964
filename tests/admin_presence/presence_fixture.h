// Two fixtures. DocUnitTest: a document with its events and locks and no panes, driven directly.
// MappingTest: the whole application in the test's thread (the user-interface thread), the kernel host in
// the test process as the drivers, and simulated servers on 127.0.0.N broadcasting to the listener's port.
#pragma once
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "admin/TavrinAdminApp.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/ui/FunctionView.h"
#include "admin/ui/MainFrame.h"
#include "kernel_host/kernel_host.h"
#include "testsupport/admin_app.h"
#include "testsupport/eventually.h"
#include "testsupport/ports.h"
#include "testsupport/sysroot.h"
#include "zarnet/device_list.h"
#include "zarnet/sim/simulator.h"

namespace presence_test {

using tavrin::test::Eventually;
using zarnet::sim::FreeLoopbackPort;
std::string Ip(int last);  // "127.0.0.<last>"
ULONG NetIp(int last);     // the same, network order

zarnet::__dev_info__ DevInfo(uint16_t port, uint8_t cls, uint16_t vid, uint16_t pid, uint16_t rev, uint8_t busy = 0,
                             uint8_t interfaces = 1);
zarnet::sim::Device SimDevice(uint16_t port, uint8_t cls, uint16_t vid, uint16_t pid, uint16_t rev,
                              const std::string& product = "");
// The trace log written so far.
std::string ReadTraceLog();
// Every thread of this process.
int ThreadCount();

// Registry keys that make a printer device on a server the Windows printer `name`; autoReconnect < 0
// writes no auto-connect key.
void InstallWindowsPrinter(const std::string& name, const DeviceEntry& device, int autoReconnect);

class DocUnitTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // One datagram as the listener hands it over.
  void Receive(int serverLast, uint32_t serverId, const std::vector<zarnet::__dev_info__>& devices);
  DeviceEntry Device(int serverLast, WORD port);
  int DeviceCount();
  ServerPresenceEntry Server(int serverLast);
  int ServerCount();
  // A device entry added as the listener would, already fetched (state 2).
  POSITION AddDevice(int serverLast, const zarnet::__dev_info__& info, DWORD state);
  std::vector<DEVICE_ARRIVALREMOVAL_INFO> QueuedDeviceRequests();
  // Answers and frees every queued device request, as the functional pane would.
  void ReleaseDeviceSlots();
  void FillAllDeviceSlots();

  std::unique_ptr<CTavrinAdminApp> app_;
  std::unique_ptr<CTavrinAdminDoc> doc_;
  // The command port: nobody answers there, so fetches fail at once.
  tavrin::test::HeldPort nobody_;
  // Where simulated servers' device lists go unheard.
  tavrin::test::HeldPort deviceLists_{tavrin::test::HeldPort::kDatagram};
};

class MappingTest : public tavrin::test::SysrootTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The kernel host's drivers: by default the stand-in control device.
  virtual tavrin::kernel_host::Options HostOptions() { return {}; }
  // Starts device mapping and waits until the listener runs.
  void StartMapping();
  zarnet::sim::Server& AddServer(int last, std::vector<zarnet::sim::Device> devices);
  void StartServers();
  bool PumpUntil(const std::function<bool()>& done, int milliseconds = 10000);

  // The device tree of the functional pane.
  const TreeServerItem* ServerRow(int last);
  const TreeDeviceItem* DeviceRow(int last, WORD port);
  bool Select(int last, WORD port);
  std::vector<TreeServerItem> tree_;  // the copy of the tree the rows above point into
  // The devices the control device has plugged in.
  std::vector<BUS_DEVICE_INFO> PluggedDevices();
  bool IsPlugged(int last, WORD port);

  struct Box {
    std::string text;
    UINT type;
  };
  std::unique_ptr<tavrin::kernel_host::KernelHost> host_;
  std::unique_ptr<CTavrinAdminApp> app_;
  CTavrinAdminDoc* doc_ = nullptr;
  CFunctionView* pane_ = nullptr;
  zarnet::sim::Simulator sim_;
  uint16_t listenPort_ = 0;
  uint16_t commandPort_ = 0;
  std::vector<Box> boxes_;
  std::function<int(const Box&)> answer_;  // null: IDOK
};

}  // namespace presence_test
