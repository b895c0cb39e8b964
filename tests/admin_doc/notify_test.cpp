// The request tables: slots filled as the fillers do, sent by the notification threads, answered by the
// drivers (the bus enumerator and the control device of the kernel host), and released by the
// functional pane's answer handlers.
#include <chrono>
#include <cstdlib>

#include "admin/Resource.h"
#include "doc_fixture.h"
#include "win32/devices/kernel_link.h"

namespace admin_doc_test {
namespace {

class NotifyTest : public DocTest {
 protected:
  void SetUp() override {
    DocTest::SetUp();
    StartHost();
    StartMappingWithBus();
  }

  bool WaitServerSlotFree(int slot) {
    return PumpUntil([&] { return ServerSlot(slot).RequestId == 0; });
  }
  bool WaitDeviceSlotFree(int slot) {
    return PumpUntil([&] { return DeviceSlot(slot).RequestId == 0; });
  }
  // A server known to the control device: its arrival was reported and answered.
  void ReportServer(int slot, int serverLast) {
    AddPresence(serverLast);
    QueueServerRequest(slot, true, serverLast);
    SetEvent(doc_->ServerRequests().Event());
    ASSERT_TRUE(WaitServerSlotFree(slot)) << ReadLog();
    WaitServerKnown(serverLast);
  }
  // The control device learns of a server when plug and play has started the server's node, a moment
  // after the enumerator's answer: probe until a plug-in request for it succeeds.
  void WaitServerKnown(int serverLast) {
    constexpr int kProbeSlot = 250;
    constexpr WORD kProbePort = 99;
    AddDevice(serverLast, kProbePort, DEVICE_STATE_CONNECT_REQUESTED);
    const auto deadline = std::chrono::steady_clock::now() + tavrin::test::Patient(std::chrono::seconds(30));
    do {
      QueueDeviceRequest(kProbeSlot, true, serverLast, kProbePort);
      SetEvent(doc_->DeviceRequests().Event());
      ASSERT_TRUE(WaitDeviceSlotFree(kProbeSlot)) << ReadLog();
      if (FindDevice(serverLast, kProbePort).RequestStatus == ARRM_STATUS_SUCCESS) return;
      PumpFor(20);  // between probes
    } while (std::chrono::steady_clock::now() < deadline);
    FAIL() << "the control device never learnt of " << ServerText(serverLast);
  }
  ServerPresenceEntry Presence(int serverLast) {
    ServerPresenceEntry entry{};
    EXPECT_TRUE(doc_->FindServerPresence(ServerText(serverLast).c_str(), &entry));
    return entry;
  }
  std::string ServerDone(int serverLast) {
    return "Server (" + ServerText(serverLast) + ") Arrival Notification Successful.!!";
  }
  // How often the mapping log says the server was announced.
  int Announcements(int serverLast) {
    int count = 0;
    for (const std::string& row : MappingLogTexts()) count += row == ServerDone(serverLast) ? 1 : 0;
    return count;
  }
};

TEST_F(NotifyTest, ServerRequestsAreSentInSlotOrderAndAnswersReleaseTheirSlots) {
  AddPresence(5);
  AddPresence(6);
  // Queued in reverse order before the thread wakes: one pass sends them in slot order.
  QueueServerRequest(7, true, 6);
  QueueServerRequest(2, true, 5);
  SetEvent(doc_->ServerRequests().Event());
  ASSERT_TRUE(WaitServerSlotFree(2) && WaitServerSlotFree(7)) << ReadLog();
  EXPECT_EQ(Presence(5).RequestStatus, ARRM_STATUS_SUCCESS);
  EXPECT_EQ(Presence(6).RequestStatus, ARRM_STATUS_SUCCESS);
  std::vector<std::string> results;
  for (const std::string& text : MappingLogTexts())
    if (text.rfind("Server (", 0) == 0) results.push_back(text);
  EXPECT_EQ(results, (std::vector<std::string>{ServerDone(5), ServerDone(6)}));
  EXPECT_EQ(frame_->GetStatusText(), ServerDone(6));

  // The same server twice: the second answer is "already present" (0x04), behind a 0x81: both count as
  // success in one collection.
  QueueServerRequest(0, true, 5);
  QueueServerRequest(1, true, 5);
  SetEvent(doc_->ServerRequests().Event());
  ASSERT_TRUE(WaitServerSlotFree(0) && WaitServerSlotFree(1)) << ReadLog();
  EXPECT_EQ(Presence(5).RequestStatus, ARRM_STATUS_SUCCESS);

  // A departure of a server the enumerator does not know: "not present" folds into success.
  AddPresence(9);
  QueueServerRequest(3, false, 9);
  SetEvent(doc_->ServerRequests().Event());
  ASSERT_TRUE(WaitServerSlotFree(3)) << ReadLog();
  EXPECT_EQ(Presence(9).RequestStatus, ARRM_STATUS_SUCCESS);
  EXPECT_TRUE(MappingLogHas("Server (127.0.0.9) Depature Notification Successful.!!"));
}

TEST_F(NotifyTest, DeviceRequestsGoToTheControlDeviceAndTheirAnswersUpdateTheDevice) {
  ReportServer(0, 5);
  AddDevice(5, 2, DEVICE_STATE_CONNECT_REQUESTED, true);
  AddDevice(8, 4, DEVICE_STATE_CONNECT_REQUESTED, true);
  QueueDeviceRequest(10, true, 5, 2);
  QueueDeviceRequest(11, true, 8, 4);  // a server the control device does not know: 0x20
  SetEvent(doc_->DeviceRequests().Event());
  ASSERT_TRUE(WaitDeviceSlotFree(10) && WaitDeviceSlotFree(11)) << ReadLog();
  DeviceEntry connected = FindDevice(5, 2);
  EXPECT_EQ(connected.State, DEVICE_STATE_CONNECTED);
  EXPECT_EQ(connected.RequestStatus, ARRM_STATUS_SUCCESS);
  EXPECT_EQ(connected.ConnectionLost, 0u);
  EXPECT_TRUE(MappingLogHas("Device 127.0.0.5 : 2 Connect Intimation Successful"));
  DeviceEntry refused = FindDevice(8, 4);
  EXPECT_EQ(refused.RequestStatus, ARRM_STATUS_FAILED);
  EXPECT_TRUE(MappingLogHas("Device 127.0.0.8 : 4 Connect Intimation Failed!"));

  QueueDeviceRequest(12, false, 5, 2);
  SetEvent(doc_->DeviceRequests().Event());
  ASSERT_TRUE(WaitDeviceSlotFree(12)) << ReadLog();
  EXPECT_EQ(FindDevice(5, 2).State, DEVICE_STATE_DISCONNECTED);
  EXPECT_TRUE(MappingLogHas("Device 127.0.0.5 : 2 Disconnect Intimation Successful"));
}

TEST_F(NotifyTest, AlreadyPresentCountsAsConnectedForADeviceThatHoldsItsConnection) {
  ReportServer(0, 5);
  AddDevice(5, 2, DEVICE_STATE_CONNECT_REQUESTED);
  for (int slot : {10, 11}) {  // the second plug-in finds the first's device
    QueueDeviceRequest(slot, true, 5, 2);
    SetEvent(doc_->DeviceRequests().Event());
    ASSERT_TRUE(WaitDeviceSlotFree(slot)) << ReadLog();
    EXPECT_EQ(FindDevice(5, 2).RequestStatus, ARRM_STATUS_SUCCESS) << slot;
  }
  EXPECT_FALSE(MappingLogHas("Device 127.0.0.5 : 2 Connect Intimation Failed!"));
}

// Devices whose server connections the bus driver reports lost.
class LostConnectionTest : public NotifyTest {
 protected:
  void SetUp() override {
    DocTest::SetUp();
    StartHost({"--fake-control-device", "--fake-connections-lost"});
    StartMappingWithBus();
  }
};

TEST_F(LostConnectionTest, AlreadyPresentForADeviceWithoutItsConnectionIsAFailedConnect) {
  ReportServer(0, 5);
  AddDevice(5, 2, DEVICE_STATE_CONNECT_REQUESTED);
  QueueDeviceRequest(10, true, 5, 2);
  SetEvent(doc_->DeviceRequests().Event());
  ASSERT_TRUE(WaitDeviceSlotFree(10)) << ReadLog();
  ASSERT_EQ(FindDevice(5, 2).RequestStatus, ARRM_STATUS_SUCCESS);
  QueueDeviceRequest(11, true, 5, 2);
  SetEvent(doc_->DeviceRequests().Event());
  ASSERT_TRUE(WaitDeviceSlotFree(11)) << ReadLog();
  EXPECT_EQ(FindDevice(5, 2).RequestStatus, ARRM_STATUS_FAILED);
  EXPECT_TRUE(MappingLogHas("Device 127.0.0.5 : 2 Connect Intimation Failed!"));
}

TEST_F(NotifyTest, ASlotThatCannotBeSentIsAnsweredAsFailedAndReleased) {
  ReportServer(0, 5);
  AddDevice(5, 3, DEVICE_STATE_CONNECT_REQUESTED);
  QueueDeviceRequest(4, true, 5, 3, 0);  // no length: nothing to send
  SetEvent(doc_->DeviceRequests().Event());
  ASSERT_TRUE(WaitDeviceSlotFree(4)) << ReadLog();
  EXPECT_EQ(FindDevice(5, 3).RequestStatus, ARRM_STATUS_FAILED);
  EXPECT_TRUE(MappingLogHas("Device 127.0.0.5 : 3 Connect Intimation Failed!"));
  EXPECT_NE(ReadLog().find("NotifyDeviceArRmToDriver: dwBytes==0\r\n"), std::string::npos);

  QueueDeviceRequest(5, true, 5, 3, 65);  // longer than the record
  SetEvent(doc_->DeviceRequests().Event());
  ASSERT_TRUE(WaitDeviceSlotFree(5)) << ReadLog();
}

TEST_F(NotifyTest, AMismatchedDeviceAnswerIsDroppedAndTheAnswersBehindItAreStillCollected) {
  ReportServer(0, 5);
  AddDevice(5, 3, DEVICE_STATE_CONNECT_REQUESTED);
  // Two requests already taken by the thread; the driver's answers come for slot 4 with another port
  // (the slot was reused meanwhile) and for slot 5.
  QueueDeviceRequest(3, true, 5, 2);
  QueueDeviceRequest(4, true, 5, 3);
  EnterCriticalSection(&doc_->DeviceRequests().Lock());
  doc_->DeviceRequests().Edit(3, [](DEVICE_ARRIVALREMOVAL_INFO& s) { s.Taken = 1; });
  doc_->DeviceRequests().Edit(4, [](DEVICE_ARRIVALREMOVAL_INFO& s) { s.Taken = 1; });
  // The thread is held in a send pass, so both answers are queued before it collects: 0x81 then 0x01.
  SetEvent(doc_->DeviceRequests().Event());
  for (auto [slot, port] : {std::pair{4, WORD{9}}, std::pair{5, WORD{3}}}) {
    DEVICE_ARRIVALREMOVAL_INFO request = doc_->DeviceRequests().At(slot - 1);
    request.PortNum = port;
    request.Ids = 0;
    ASSERT_TRUE(doc_->Bus().NotifyDevicePresence(&request));
  }
  LeaveCriticalSection(&doc_->DeviceRequests().Lock());

  ASSERT_TRUE(WaitDeviceSlotFree(4)) << ReadLog();
  EXPECT_EQ(FindDevice(5, 3).State, DEVICE_STATE_CONNECTED);
  const DEVICE_ARRIVALREMOVAL_INFO untouched = DeviceSlot(3);
  EXPECT_EQ(untouched.RequestId, 4u);
  EXPECT_EQ(untouched.ArRmStatus, ARRM_STATUS_PENDING);
  const std::string log = ReadLog();
  EXPECT_NE(log.find("NotifyDeviceArRmToDriver :Response for wrongDeviceArrivalRemoval Index 4\r\n"), std::string::npos);
  EXPECT_NE(log.find("Port:2 Reponse for port no:9\r\n"), std::string::npos);
}

TEST_F(NotifyTest, AServerAnswerForAReusedSlotOnlyWritesTheErrorLine) {
  AddPresence(5);
  QueueServerRequest(2, true, 5);  // sent already, answered for another server
  QueueServerRequest(3, true, 6);  // sent already, answered in the same collection
  AddPresence(6);
  EnterCriticalSection(&doc_->ServerRequests().Lock());
  doc_->ServerRequests().Edit(2, [](SERVER_ARRIVALREMOVAL_INFO& s) { s.Taken = 1; });
  doc_->ServerRequests().Edit(3, [](SERVER_ARRIVALREMOVAL_INFO& s) { s.Taken = 1; });
  SetEvent(doc_->ServerRequests().Event());
  SERVER_ARRIVALREMOVAL_INFO other = doc_->ServerRequests().At(2);
  other.ServerIp = ServerAddress(7);
  ASSERT_TRUE(doc_->BusEnum().NotifyServerPresence(&other));
  SERVER_ARRIVALREMOVAL_INFO same = doc_->ServerRequests().At(3);
  ASSERT_TRUE(doc_->BusEnum().NotifyServerPresence(&same));
  LeaveCriticalSection(&doc_->ServerRequests().Lock());

  ASSERT_TRUE(WaitServerSlotFree(3)) << ReadLog();
  EXPECT_EQ(ServerSlot(2).Status, ARRM_STATUS_PENDING);
  EXPECT_EQ(Presence(5).RequestStatus, ARRM_STATUS_PENDING);
  EXPECT_EQ(Presence(6).RequestStatus, ARRM_STATUS_SUCCESS);
  EXPECT_NE(ReadLog().find("NotifyServerArRmToDriver:ERROR Updating response for other Server\r\n"), std::string::npos);
}

TEST_F(NotifyTest, AnswersStillInTheTablesAtTheStopAreReleasedWithTheirBlocks) {
  ReportServer(0, 5);
  // Queued but never woken for: the stop's clean-up frees the identifier block (ASan would see a leak).
  QueueDeviceRequest(20, true, 5, 7);
  EnterCriticalSection(&doc_->DeviceRequests().Lock());
  doc_->DeviceRequests().Edit(20, [](DEVICE_ARRIVALREMOVAL_INFO& s) { s.Taken = 1; });
  LeaveCriticalSection(&doc_->DeviceRequests().Lock());
  Command(ID_STOP_DEVICE_MAPPING);
  EXPECT_FALSE(doc_->IsDeviceMappingStarted());
  EXPECT_EQ(doc_->DeviceRequests().At(20).RequestId, 0u);
  // An answer message that arrives after the clean-up finds no table and changes nothing.
  frame_->GetFunctionView()->SendMessage(WM_DEVICE_ARRM_ANSWER, 21, 0);
  frame_->GetFunctionView()->SendMessage(WM_SERVER_ARRM_ANSWER, 1, 0);
}

// With the kernel host gone, requests that cannot be sent count as answered: the stop does not wait out
// AppStopDeviceMappingPeriod for them and offers no reboot.
TEST_F(NotifyTest, RequestsThatCannotReachTheDriversCountAsAnsweredSoTheStopDoesNotWait) {
  ReportServer(0, 5);  // known to the drivers, with a connected device
  host_->Kill();
  Command(ID_STOP_DEVICE_MAPPING);
  EXPECT_FALSE(doc_->IsDeviceMappingStarted());
  ASSERT_EQ(boxes_.size(), 1u);  // the question only
  const std::string log = ReadLog();
  EXPECT_EQ(log.find("Time Out!! Couldn't unload all the Devices/Servers!!"), std::string::npos);
  EXPECT_NE(log.find("Device Connect Disconnect intimation failed:"), std::string::npos);
  EXPECT_NE(log.find("Server Arrival Depature intimation failed:"), std::string::npos);
}

// The control device's removal because the kernel host died: the notification threads end, what was
// sent counts as failed, and when the kernel host is back the special server and the servers are
// announced again and the control device is opened again.
TEST_F(NotifyTest, AfterTheKernelHostDiesAndReturnsTheServersAreAnnouncedAgain) {
  const std::string ip = ServerText(5);
  auto heard = [&] {  // its broadcasts, and the refresh that acts on them
    doc_->UpdateServerPresence(ip.c_str(), 0x5005);
    Refresh();
  };
  auto announced = [&] { return Announcements(5); };
  ASSERT_TRUE(PumpUntil([&] {
    heard();
    return announced() == 1;
  })) << ReadLog();

  host_->Kill();
  DEV_BROADCAST_DEVICEINTERFACE notice{};
  notice.dbcc_size = sizeof notice;
  notice.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  notice.dbcc_classguid = GUID_DEVINTERFACE_BUSDRIVER;
  frame_->GetFunctionView()->SendMessage(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(&notice));
  EXPECT_TRUE(doc_->IsKernelHostLost());
  EXPECT_FALSE(doc_->IsDeviceThreadRunning());
  EXPECT_FALSE(doc_->IsServerThreadRunning());
  EXPECT_EQ(doc_->Bus().GetHandle(), INVALID_HANDLE_VALUE);
  for (int i = 0; i < 3; ++i) Refresh();  // refreshes without the kernel host change nothing
  EXPECT_TRUE(doc_->IsKernelHostLost());

  StartHost();
  ASSERT_TRUE(PumpUntil([&] {
    heard();
    return announced() == 2 && doc_->IsDeviceThreadRunning();
  })) << ReadLog();
  EXPECT_FALSE(doc_->IsKernelHostLost());
  EXPECT_NE(doc_->Bus().GetHandle(), INVALID_HANDLE_VALUE);
  WaitServerKnown(5);  // the new control device knows the server
  EXPECT_TRUE(boxes_.empty());
  Command(ID_STOP_DEVICE_MAPPING);
  EXPECT_EQ(boxes_.size(), 1u);  // the question only: every answer came
}

// End to end: the kernel host is killed; the device layer tells the functional pane that the control
// device is gone, mapping waits, and when the kernel host is started again the servers are announced again.
TEST_F(NotifyTest, KillingAndRestartingTheKernelHostBringsMappingBack) {
  tavrin::kernel_link::SetReconnectInterval(std::chrono::milliseconds(20));
  const std::string ip = ServerText(6);
  auto heard = [&] {
    doc_->UpdateServerPresence(ip.c_str(), 0x5006);
    Refresh();
  };
  auto announced = [&] { return Announcements(6); };
  ASSERT_TRUE(PumpUntil([&] {
    heard();
    return announced() == 1;
  })) << ReadLog();

  host_->Kill();
  ASSERT_TRUE(PumpUntil([&] {
    heard();
    return doc_->IsKernelHostLost();
  })) << ReadLog();
  EXPECT_FALSE(doc_->IsDeviceThreadRunning());

  StartHost();
  ASSERT_TRUE(PumpUntil([&] {
    heard();
    return announced() == 2 && doc_->IsDeviceThreadRunning();
  })) << ReadLog();
  WaitServerKnown(6);
  Command(ID_STOP_DEVICE_MAPPING);
  EXPECT_EQ(boxes_.size(), 1u);
  tavrin::kernel_link::SetReconnectInterval(std::chrono::milliseconds(1000));
}

}  // namespace
}  // namespace admin_doc_test
