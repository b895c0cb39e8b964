// End to end: simulated servers broadcast their device lists to the listener, the refresh timer reports
// them to the bus enumerator of the kernel host, and connect and disconnect reach its control device.
#include <thread>

#include "admin/RegistryStore.h"
#include "admin/Resource.h"
#include "presence_fixture.h"
#include "win32/winspool.h"

namespace presence_test {
namespace {

constexpr uint16_t kPrinterVid = 0x03F0;

bool ShowsState(const TreeDeviceItem* row, const char* state) { return row && row->State == state; }

TEST_F(MappingTest, ServersAppearWithTheirDevicesAndAServerThatFallsSilentDeparts) {
  AddServer(2, {SimDevice(1, 7, kPrinterVid, 0x0517, 0x0100, "LaserJet 1020"), SimDevice(2, 8, 0x0781, 0x5567, 0x0100)});
  AddServer(3, {SimDevice(1, 3, 0x046D, 0xC31C, 0x6400)});
  AddServer(4, {SimDevice(5, 6, 0x04B8, 0x0110, 0x0100)});
  StartServers();
  StartMapping();

  ASSERT_TRUE(PumpUntil([&] {
    return DeviceRow(2, 1) && DeviceRow(2, 2) && DeviceRow(3, 1) && DeviceRow(4, 5);
  })) << ReadTraceLog();
  EXPECT_EQ(ServerRow(2)->Text, "127.0.0.2 ( Loaded Successfully )");
  const TreeDeviceItem* printer = DeviceRow(2, 1);
  EXPECT_EQ(printer->Name, "LaserJet 1020");  // asked for on the server's command port
  EXPECT_EQ(printer->ClassName, "Printer");
  EXPECT_EQ(printer->State, "Free");
  EXPECT_EQ(DeviceRow(3, 1)->ClassName, "HID");

  // The server at .3 stops broadcasting: after a silent period its departure is reported and answered,
  // and its row and entry go.
  sim_.server(1).Stop();
  ASSERT_TRUE(PumpUntil([&] { return ServerRow(3) == nullptr; })) << ReadTraceLog();
  ServerPresenceEntry gone{};
  EXPECT_FALSE(doc_->FindServerPresence(Ip(3).c_str(), &gone));
  EXPECT_NE(ServerRow(2), nullptr);
  EXPECT_NE(ServerRow(4), nullptr);
  EXPECT_NE(ReadTraceLog().find("Deleted and intimate server departure"), std::string::npos);
}

TEST_F(MappingTest, PluggedDevicesAppearUnpluggedOnesGoAndBusyOnesShowIt) {
  zarnet::sim::Server& server = AddServer(2, {SimDevice(1, 8, 0x0781, 0x5567, 0x0100)});
  StartServers();
  StartMapping();
  ASSERT_TRUE(PumpUntil([&] { return ShowsState(DeviceRow(2, 1), "Free"); })) << ReadTraceLog();

  server.Plug(SimDevice(4, 3, 0x046D, 0xC31C, 0x6400));
  ASSERT_TRUE(PumpUntil([&] { return ShowsState(DeviceRow(2, 4), "Free"); }));
  EXPECT_EQ(DeviceRow(2, 4)->Name, "Vid_046d&Pid_c31c");  // no product string: vendor and product

  server.SetBusy(1, true, "127.0.0.9");
  ASSERT_TRUE(PumpUntil([&] { return ShowsState(DeviceRow(2, 1), "Busy"); }));

  server.Unplug(4);
  ASSERT_TRUE(PumpUntil([&] { return DeviceRow(2, 4) == nullptr; }));
  EXPECT_NE(DeviceRow(2, 1), nullptr) << ReadTraceLog();
}

TEST_F(MappingTest, ConnectAndDisconnectReachTheControlDevice) {
  AddServer(2, {SimDevice(3, 8, 0x0781, 0x5567, 0x0100), SimDevice(4, 3, 0x046D, 0xC31C, 0x6400)});
  StartServers();
  StartMapping();
  ASSERT_TRUE(PumpUntil([&] { return ShowsState(DeviceRow(2, 3), "Free"); })) << ReadTraceLog();

  ASSERT_TRUE(Select(2, 3));
  doc_->OnConnectDisconnect();
  EXPECT_EQ(DeviceRow(2, 3)->State, "Loading...");
  EXPECT_EQ(GetAdminMainFrame()->GetStatusText(), "Informed Device (127.0.0.2 : 3) Arrival Notification.");
  ASSERT_TRUE(PumpUntil([&] { return ShowsState(DeviceRow(2, 3), "Connected"); })) << ReadTraceLog();
  std::vector<BUS_DEVICE_INFO> plugged = PluggedDevices();
  ASSERT_EQ(plugged.size(), 1u);
  EXPECT_EQ(+plugged[0].IP, NetIp(2));
  EXPECT_EQ(+plugged[0].Port, 3);
  EXPECT_EQ(+plugged[0].Vid, 0x0781);
  EXPECT_EQ(+plugged[0].Pid, 0x5567);
  EXPECT_EQ(+plugged[0].Rev, 0x0100);

  // Disconnect as the device tree's context menu gives it: a command to its view, passed on to the document.
  ASSERT_TRUE(Select(2, 3));
  pane_->SendMessage(WM_COMMAND, ID_DISCONNECT, 0);
  EXPECT_EQ(DeviceRow(2, 3)->State, "Unloading...");
  ASSERT_TRUE(PumpUntil([&] { return ShowsState(DeviceRow(2, 3), "Free"); })) << ReadTraceLog();
  EXPECT_FALSE(IsPlugged(2, 3));

  // With every request slot taken the command changes nothing.
  for (int i = 0; i < kRequestTableSlots; ++i) {
    doc_->DeviceRequests().Edit(i, [i](DEVICE_ARRIVALREMOVAL_INFO& s) {
      s.RequestId = i + 1;
      s.Taken = 1;  // as if sent: the notification thread leaves them
    });
  }
  const CString statusBefore = GetAdminMainFrame()->GetStatusText();
  ASSERT_TRUE(Select(2, 3));
  doc_->OnConnectDisconnect();
  EXPECT_EQ(DeviceRow(2, 3)->State, "Free");
  EXPECT_EQ(GetAdminMainFrame()->GetStatusText(), statusBefore);
  for (int i = 0; i < kRequestTableSlots; ++i) doc_->DeviceRequests().Edit(i, [](DEVICE_ARRIVALREMOVAL_INFO& slot) { slot = {}; });

  // A busy device is neither connected nor disconnected by the command.
  sim_.server(0).SetBusy(4, true, "127.0.0.9");
  ASSERT_TRUE(PumpUntil([&] { return ShowsState(DeviceRow(2, 4), "Busy"); }));
  ASSERT_TRUE(Select(2, 4));
  doc_->OnConnectDisconnect();
  EXPECT_EQ(DeviceRow(2, 4)->State, "Busy");
  EXPECT_TRUE(PluggedDevices().empty());
}

TEST_F(MappingTest, ADeviceThatLeavesItsServerWhileConnectedIsUnpluggedAndGoes) {
  zarnet::sim::Server& server = AddServer(2, {SimDevice(3, 8, 0x0781, 0x5567, 0x0100)});
  StartServers();
  StartMapping();
  ASSERT_TRUE(PumpUntil([&] { return ShowsState(DeviceRow(2, 3), "Free"); })) << ReadTraceLog();
  ASSERT_TRUE(Select(2, 3));
  doc_->OnConnectDisconnect();
  ASSERT_TRUE(PumpUntil([&] { return IsPlugged(2, 3) && ShowsState(DeviceRow(2, 3), "Connected"); }));

  server.Unplug(3);
  ASSERT_TRUE(PumpUntil([&] { return DeviceRow(2, 3) == nullptr; })) << ReadTraceLog();
  EXPECT_FALSE(IsPlugged(2, 3));
}

TEST_F(MappingTest, AnAutoConnectPrinterFollowsItsPrintQueue) {
  AddServer(2, {SimDevice(6, 7, kPrinterVid, 0x0517, 0x0100, "LaserJet 1020")});
  StartServers();
  DeviceEntry device{};
  strcpy(device.ServerIp, "127.0.0.2");
  device.PortNum = 6;
  device.Vid = kPrinterVid;
  device.Pid = 0x0517;
  device.Rev = 0x0100;
  device.Class = 7;
  InstallWindowsPrinter("LaserJet", device, 1);
  ASSERT_TRUE(tavrin::spool::AddPrinter("LaserJet"));
  StartMapping();
  ASSERT_TRUE(PumpUntil([&] { return ShowsState(DeviceRow(2, 6), "Free"); })) << ReadTraceLog();

  // The command leaves an auto-connect printer to its monitor, and says so with no list lock held.
  bool lockFree = false;
  answer_ = [&](const Box&) {
    std::thread other([&] {
      lockFree = TryEnterCriticalSection(&doc_->m_csDeviceList);
      if (lockFree) LeaveCriticalSection(&doc_->m_csDeviceList);
    });
    other.join();
    return IDOK;
  };
  ASSERT_TRUE(Select(2, 6));
  doc_->OnConnectDisconnect();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "This Printer : LaserJet is allready Installed \n & It is in Auto Connected Mode.\n");
  EXPECT_EQ(boxes_[0].type, MB_ICONINFORMATION);
  EXPECT_TRUE(lockFree);
  EXPECT_EQ(DeviceRow(2, 6)->State, "Free");

  tavrin::spool::AddJob("LaserJet");
  ASSERT_TRUE(PumpUntil([&] { return IsPlugged(2, 6) && ShowsState(DeviceRow(2, 6), "Connected"); }))
      << ReadTraceLog();
  EXPECT_TRUE(doc_->IsPrinterConnected("laserjet"));
  tavrin::spool::RemoveJob("LaserJet");
  ASSERT_TRUE(PumpUntil([&] { return !IsPlugged(2, 6) && ShowsState(DeviceRow(2, 6), "Free"); })) << ReadTraceLog();
  EXPECT_FALSE(doc_->IsPrinterConnected("LaserJet"));
}

TEST_F(MappingTest, StoppingMappingUnplugsWhatIsConnectedAndEndsTheListener) {
  AddServer(2, {SimDevice(3, 8, 0x0781, 0x5567, 0x0100)});
  AddServer(3, {SimDevice(1, 8, 0x0781, 0x5568, 0x0100)});
  StartServers();
  StartMapping();
  ASSERT_TRUE(PumpUntil([&] { return ShowsState(DeviceRow(2, 3), "Free") && ShowsState(DeviceRow(3, 1), "Free"); }));
  ASSERT_TRUE(Select(2, 3));
  doc_->OnConnectDisconnect();
  ASSERT_TRUE(Select(3, 1));
  doc_->OnConnectDisconnect();
  ASSERT_TRUE(PumpUntil([&] { return PluggedDevices().size() == 2; }));

  doc_->StopDeviceMapping(FALSE);
  EXPECT_FALSE(doc_->IsDeviceMappingStarted());
  EXPECT_FALSE(doc_->IsListenerRunning());
  EXPECT_FALSE(doc_->IsBroadcastSocketOpen());
  EXPECT_EQ(doc_->GetDeviceCount(), 0);
  EXPECT_EQ(doc_->GetServerCount(), 0);
  const std::string log = ReadTraceLog();
  EXPECT_EQ(log.find("Time Out!! Couldn't unload"), std::string::npos);
}

}  // namespace
}  // namespace presence_test
