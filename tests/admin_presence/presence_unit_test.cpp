// The server presence list and the device list driven directly: datagrams as the listener hands them
// over, then the refresh timer's checks.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "admin/ui/FunctionView.h"
#include "presence_fixture.h"

namespace presence_test {
namespace {

SERVER_ARRIVALREMOVAL_INFO ServerSlot(CTavrinAdminDoc& doc, int index) {
  return doc.ServerRequests().At(index);
}

void AnswerServerSlot(CTavrinAdminDoc& doc, int index, DWORD status) {
  SERVER_ARRIVALREMOVAL_INFO slot = ServerSlot(doc, index);
  doc.ForEachServer([&](ServerPresenceEntry& server) {
    if (inet_addr(server.ServerIp) == slot.ServerIp) server.RequestStatus = status;
  });
  doc.ServerRequests().Release(index + 1);
}

void CheckServers(CTavrinAdminDoc& doc) {
  EnterCriticalSection(&doc.m_csServerPresence);
  doc.CheckServerArrivalRemoval();
  LeaveCriticalSection(&doc.m_csServerPresence);
}

// The refresh timer's device half, with the device tree's reset of the broadcast counts.
void CheckDevices(CTavrinAdminDoc& doc) {
  EnterCriticalSection(&doc.m_csDeviceList);
  doc.CheckDeviceDeparture();
  for (POSITION position = doc.m_DeviceList.GetHeadPosition(); position;) doc.m_DeviceList.GetNext(position).SeenCount = 0;
  LeaveCriticalSection(&doc.m_csDeviceList);
}

// A datagram in a buffer of exactly its size, so that a read beyond it is caught.
void ReceiveRaw(CTavrinAdminDoc& doc, int serverLast, const std::vector<uint8_t>& bytes) {
  auto* exact = static_cast<BYTE*>(malloc(bytes.size() ? bytes.size() : 1));
  memcpy(exact, bytes.data(), bytes.size());
  doc.UpdateDeviceInfo(Ip(serverLast).c_str(), exact, static_cast<int>(bytes.size()));
  free(exact);
}

TEST_F(DocUnitTest, DatagramsAreReadOnlyAsFarAsBothInfolenAndTheBytesReceivedReach) {
  const std::vector<zarnet::__dev_info__> three = {DevInfo(1, 3, 0x1111, 1, 1), DevInfo(2, 3, 0x2222, 2, 2),
                                                   DevInfo(3, 3, 0x3333, 3, 3)};
  std::vector<uint8_t> datagram = zarnet::EncodeServerDeviceList(7, three);

  // infolen names five entries, three arrived: the three whole ones are taken.
  std::vector<uint8_t> longer = datagram;
  uint32_t infolen = 8 + 5 * 14;
  memcpy(longer.data(), &infolen, 4);
  ReceiveRaw(*doc_, 2, longer);
  EXPECT_EQ(DeviceCount(), 3);

  // infolen says one entry though three arrived: only that one.
  std::vector<uint8_t> shorter = zarnet::EncodeServerDeviceList(7, three);
  infolen = 8 + 14;
  memcpy(shorter.data(), &infolen, 4);
  ReceiveRaw(*doc_, 3, shorter);
  EXPECT_EQ(DeviceCount(), 4);

  // infolen below the header, a header cut short, a half entry: nothing is listed from them.
  std::vector<uint8_t> tiny = datagram;
  infolen = 4;
  memcpy(tiny.data(), &infolen, 4);
  ReceiveRaw(*doc_, 4, tiny);
  ReceiveRaw(*doc_, 4, std::vector<uint8_t>(datagram.begin(), datagram.begin() + 6));
  ReceiveRaw(*doc_, 4, std::vector<uint8_t>(datagram.begin(), datagram.begin() + 8 + 13));
  EXPECT_EQ(DeviceCount(), 4);

  // infolen 8: the server is heard and no device listed.
  Receive(5, 9, {});
  EXPECT_EQ(Server(5).ServerId, 9u);
  EXPECT_EQ(DeviceCount(), 4);
}

TEST_F(DocUnitTest, ANewServerIsReportedAtTheFirstCheckAndDepartsAfterAWholeSilentPeriod) {
  Receive(2, 0x5A000002, {});
  Receive(2, 0x77, {});  // another identifier from the same address: the first one stays
  ServerPresenceEntry server = Server(2);
  EXPECT_EQ(server.ServerId, 0x5A000002u);
  EXPECT_EQ(server.PresenceCount, SERVER_PRESENCE_NEW);
  EXPECT_EQ(server.Active, 1u);

  ResetEvent(doc_->ServerRequests().Event());
  CheckServers(*doc_);
  SERVER_ARRIVALREMOVAL_INFO slot = ServerSlot(*doc_, 0);
  EXPECT_EQ(+slot.RequestId, 1u);
  EXPECT_EQ(+slot.Taken, 0);
  EXPECT_EQ(+slot.Length, 24u);
  EXPECT_EQ(+slot.Arrival, 1);
  EXPECT_EQ(+slot.ServerId, 0x5A000002u);
  EXPECT_EQ(+slot.ServerIp, NetIp(2));
  EXPECT_EQ(+slot.DataPort, 3240);  // host order in the server record
  EXPECT_EQ(+slot.Status, ARRM_STATUS_PENDING);
  EXPECT_EQ(WaitForSingleObject(doc_->ServerRequests().Event(), 0), WAIT_OBJECT_0);
  EXPECT_EQ(Server(2).PresenceCount, 0u);

  // While the arrival is unanswered nothing more is queued.
  CheckServers(*doc_);
  EXPECT_EQ(+ServerSlot(*doc_, 1).RequestId, 0u);
  AnswerServerSlot(*doc_, 0, ARRM_STATUS_SUCCESS);

  // Heard between two checks: alive. The count wraps from 99 to 1, never reaching "new".
  for (int i = 0; i < 150; ++i) Receive(2, 0x5A000002, {});
  EXPECT_EQ(Server(2).PresenceCount, 51u);
  CheckServers(*doc_);
  EXPECT_EQ(+ServerSlot(*doc_, 0).RequestId, 0u);

  // Silent for a whole period: departure queued; its datagrams are ignored from then on.
  CheckServers(*doc_);
  slot = ServerSlot(*doc_, 0);
  EXPECT_EQ(+slot.RequestId, 1u);
  EXPECT_EQ(+slot.Arrival, 0);
  EXPECT_EQ(Server(2).Active, 0u);
  Receive(2, 0x5A000002, {DevInfo(1, 3, 1, 2, 3)});
  EXPECT_EQ(DeviceCount(), 0);

  // Answered with success and no device in use: dropped at the next check.
  AnswerServerSlot(*doc_, 0, ARRM_STATUS_SUCCESS);
  CheckServers(*doc_);
  EXPECT_EQ(ServerCount(), 0);
}

TEST_F(DocUnitTest, AServerWithADeviceInUseStaysListedAfterItsDeparture) {
  Receive(2, 1, {});
  CheckServers(*doc_);
  AnswerServerSlot(*doc_, 0, ARRM_STATUS_SUCCESS);
  AddDevice(2, DevInfo(4, 3, 1, 2, 3), DEVICE_STATE_CONNECTED);
  CheckServers(*doc_);
  CheckServers(*doc_);  // departure queued
  AnswerServerSlot(*doc_, 0, ARRM_STATUS_SUCCESS);
  CheckServers(*doc_);
  EXPECT_EQ(ServerCount(), 1);
  doc_->ForEachDevice([](DeviceEntry& device) { device.State = DEVICE_STATE_DISCONNECTED; });
  CheckServers(*doc_);
  EXPECT_EQ(ServerCount(), 0);
}

TEST_F(DocUnitTest, DevicesAreMergedByServerPortAndNumbersAndDepartWhenNoLongerListed) {
  Receive(2, 0x10, {DevInfo(1, 7, 0x03F0, 0x1234, 0x0100), DevInfo(2, 8, 0x8086, 0x5678, 0x0200)});
  DeviceEntry printer = Device(2, 1);
  EXPECT_EQ(printer.State, DEVICE_STATE_FREE);
  EXPECT_EQ(printer.SeenCount, 1u);
  EXPECT_EQ(printer.RequestStatus, 1u);
  EXPECT_EQ(printer.Class, 7);
  EXPECT_STREQ(printer.VendorName, "Hewlett Packard");
  EXPECT_EQ(printer.ServerId, 0x10u);

  Receive(2, 0x11, {DevInfo(1, 7, 0x03F0, 0x1234, 0x0100), DevInfo(2, 8, 0x8086, 0x5678, 0x0200)});
  printer = Device(2, 1);
  EXPECT_EQ(printer.SeenCount, 2u);
  EXPECT_EQ(printer.ServerId, 0x11u);  // the device takes the newer identifier
  EXPECT_EQ(DeviceCount(), 2);

  // The same port with another release: a second entry; the first departs at the next check.
  CheckDevices(*doc_);
  Receive(2, 0x11, {DevInfo(1, 7, 0x03F0, 0x1234, 0x0101), DevInfo(2, 8, 0x8086, 0x5678, 0x0200)});
  EXPECT_EQ(DeviceCount(), 3);
  CheckDevices(*doc_);
  EXPECT_EQ(DeviceCount(), 2);
  EXPECT_EQ(Device(2, 1).Rev, 0x0101);
}

TEST_F(DocUnitTest, EveryDepartedDeviceOfOneCheckIsRemovedHoweverMany) {
  std::vector<zarnet::__dev_info__> devices;
  for (uint16_t port = 1; port <= 72; ++port) devices.push_back(DevInfo(port, 3, 0x1000, port, 1));
  Receive(2, 1, devices);
  Receive(3, 1, devices);
  ASSERT_EQ(DeviceCount(), 144);
  CheckDevices(*doc_);  // the refresh's reset
  CheckDevices(*doc_);  // nobody listed them since
  EXPECT_EQ(DeviceCount(), 0);
}

TEST_F(DocUnitTest, AConnectedDeviceThatTheServerGaveUpIsReportedRemovedAndStaysListed) {
  Receive(2, 1, {DevInfo(5, 3, 0x1A2B, 0x3C4D, 0x0102, 1)});
  doc_->ForEachDevice([](DeviceEntry& device) { device.State = DEVICE_STATE_CONNECTED; });
  Receive(2, 1, {DevInfo(5, 3, 0x1A2B, 0x3C4D, 0x0102, 0)});
  EXPECT_EQ(Device(2, 5).ConnectionLost, 1u);

  CheckDevices(*doc_);
  DeviceEntry device = Device(2, 5);
  EXPECT_EQ(DeviceCount(), 1);
  EXPECT_EQ(device.State, DEVICE_STATE_DISCONNECT_REQUESTED);
  EXPECT_EQ(device.RequestStatus, ARRM_STATUS_PENDING);
  EXPECT_EQ(device.ConnectionLost, 0u);
  EXPECT_NE(device.UnloadStartTick, 0u);
  std::vector<DEVICE_ARRIVALREMOVAL_INFO> queued = QueuedDeviceRequests();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(+queued[0].Arrival, 0);
  EXPECT_EQ(+queued[0].PortNum, 5);
}

TEST_F(DocUnitTest, WithTheDeviceTableFullNothingIsCountedAsAwaitedAndTheWaitEndsAtOnce) {
  AddDevice(2, DevInfo(1, 3, 1, 1, 1), DEVICE_STATE_CONNECTED);
  AddDevice(2, DevInfo(2, 3, 1, 2, 1), DEVICE_STATE_CONNECTED);
  FillAllDeviceSlots();
  const DWORD start = GetTickCount();
  EXPECT_EQ(doc_->DisconnectAll(TRUE, TRUE, FALSE), 0);
  EXPECT_LT(GetTickCount() - start, 1000u);  // not the whole AppStopDeviceMappingPeriod
  EXPECT_EQ(doc_->PendingDeviceAnswers(), 0);
  EXPECT_EQ(Device(2, 1).State, DEVICE_STATE_CONNECTED);
  for (int i = 0; i < kRequestTableSlots; ++i) doc_->DeviceRequests().Edit(i, [](DEVICE_ARRIVALREMOVAL_INFO& slot) { slot = {}; });

  // Removals are queued; without a device thread (no control device) no answer will come, so none is
  // awaited. The disconnect-everything flag is down again afterwards.
  EXPECT_EQ(doc_->DisconnectAll(FALSE, TRUE, FALSE), 0);
  EXPECT_EQ(doc_->PendingDeviceAnswers(), 0);
  EXPECT_EQ(QueuedDeviceRequests().size(), 2u);
  EXPECT_FALSE(doc_->IsDisconnectingAll());
}

TEST_F(DocUnitTest, WithoutTheServerThreadDeparturesAreQueuedButNoneIsAwaited) {
  Receive(2, 1, {});
  Receive(3, 1, {});
  Receive(4, 1, {});
  CheckServers(*doc_);                                 // three arrivals queued (slots 0..2)
  AnswerServerSlot(*doc_, 0, ARRM_STATUS_SUCCESS);     // 2: arrived
  AnswerServerSlot(*doc_, 1, ARRM_STATUS_FAILED);      // 3: its arrival failed: nothing to remove
  doc_->ReportAllServersDeparted();                    // 2: departure queued; 4: still pending, departure queued
  EXPECT_EQ(doc_->PendingServerAnswers(), 0);
  EXPECT_EQ(Server(2).Active, 0u);
  EXPECT_EQ(Server(4).Active, 0u);
  EXPECT_EQ(Server(3).Active, 1u);
  EXPECT_EQ(ServerSlot(*doc_, 0).Arrival, 0);  // the freed slots take the two departures
  EXPECT_EQ(ServerSlot(*doc_, 1).Arrival, 0);
}

// More servers than the request table has slots: those left out are announced at a later check, and
// every server ends announced.
TEST_F(DocUnitTest, ServersThatFoundNoFreeSlotAreAnnouncedAtALaterCheck) {
  constexpr int kServers = 300;
  auto address = [](int n) { return "127.0." + std::to_string(1 + n / 200) + "." + std::to_string(1 + n % 200); };
  for (int n = 0; n < kServers; ++n) doc_->UpdateServerPresence(address(n).c_str(), 0x7000u + n);
  for (int check = 0; check < 3; ++check) {
    CheckServers(*doc_);
    for (int n = 0; n < kServers; ++n) doc_->UpdateServerPresence(address(n).c_str(), 0x7000u + n);  // still heard
    for (int slot = 0; slot < kRequestTableSlots; ++slot) {
      if (ServerSlot(*doc_, slot).RequestId != 0) AnswerServerSlot(*doc_, slot, ARRM_STATUS_SUCCESS);
    }
  }
  int announced = 0;
  for (int n = 0; n < kServers; ++n) {
    ServerPresenceEntry server{};
    ASSERT_TRUE(doc_->FindServerPresence(address(n).c_str(), &server));
    EXPECT_EQ(server.Active, 1u) << address(n);
    announced += server.RequestStatus == ARRM_STATUS_SUCCESS ? 1 : 0;
  }
  EXPECT_EQ(announced, kServers);
  EXPECT_NE(ReadTraceLog().find("No free elements in m_ArrSereverArRmInfo, for Server Arrival intimation"),
            std::string::npos);
}

// A departure that finds no free slot is tried again at the next check.
TEST_F(DocUnitTest, ADepartureThatFoundNoFreeSlotIsQueuedAtTheNextCheck) {
  Receive(2, 1, {});
  CheckServers(*doc_);
  AnswerServerSlot(*doc_, 0, ARRM_STATUS_SUCCESS);
  for (int slot = 0; slot < kRequestTableSlots; ++slot)
    doc_->ServerRequests().Edit(slot, [slot](SERVER_ARRIVALREMOVAL_INFO& s) { s.RequestId = slot + 1; });
  CheckServers(*doc_);  // silent: departure, but the table is full
  EXPECT_EQ(Server(2).Active, 1u);
  for (int slot = 0; slot < kRequestTableSlots; ++slot) doc_->ServerRequests().Release(slot + 1);
  CheckServers(*doc_);
  EXPECT_EQ(Server(2).Active, 0u);
  EXPECT_EQ(Server(2).RequestStatus, ARRM_STATUS_PENDING);
  EXPECT_EQ(ServerSlot(*doc_, 0).Arrival, 0);
}

// Anyone may broadcast device lists: the lists stop growing at their limits (settable), and the refusal
// is written once, not at every datagram.
TEST_F(DocUnitTest, TheListsStopGrowingAtTheirLimits) {
  ListLimits limits;
  limits.MaxServers = 3;
  limits.MaxDevices = 5;
  doc_->SetListLimits(limits);
  for (int last = 2; last <= 6; ++last) {
    Receive(last, 0x100 + last, {DevInfo(1, 8, 0x0781, 0x5567, 0x0100), DevInfo(2, 3, 0x046D, 0xC077, 0x0100)});
  }
  EXPECT_EQ(ServerCount(), 3);
  EXPECT_EQ(DeviceCount(), 5);
  ServerPresenceEntry none{};
  EXPECT_FALSE(doc_->FindServerPresence(Ip(5).c_str(), &none));
  EXPECT_EQ(Device(5, 1).Vid, 0);  // the devices of a server that was not taken are not taken either
  // Known devices are still merged.
  Receive(2, 0x102, {DevInfo(1, 8, 0x0781, 0x5567, 0x0100, 1)});
  EXPECT_EQ(Device(2, 1).BusyFlag, 1);
  const std::string log = ReadTraceLog();
  const std::string refused = "servers listed already";
  EXPECT_NE(log.find(refused), std::string::npos);
  EXPECT_EQ(log.find(refused), log.rfind(refused));
}

// "Element not deleted even though it is not alive" is written for a device that outlives its server, not
// for the devices of a server whose arrival is still under way.
TEST_F(DocUnitTest, TheNotDeletedLineIsWrittenOnlyForADeviceWithoutItsServer) {
  tavrin::test::PaneHost host(doc_.get(), RUNTIME_CLASS(CFunctionView));
  CFunctionView& pane = host.as<CFunctionView>();
  auto refresh = [&] { doc_->Refresh([&] { pane.RefreshServerList(); }, [&] { pane.RefreshDeviceTree(); }); };
  const std::string line = "Error : Element not deleted even though it is not alive";
  Receive(2, 0x102, {DevInfo(1, 8, 0x0781, 0x5567, 0x0100)});
  ASSERT_TRUE(Eventually([&] { return Device(2, 1).ProductStringState == 2; }));  // nobody answers: fails at once
  for (int i = 0; i < 3; ++i) refresh();  // the arrival is queued and never answered here
  EXPECT_EQ(ReadTraceLog().find(line), std::string::npos);

  // A device listed for a sender that is not in the server list at all.
  const std::vector<uint8_t> datagram = zarnet::EncodeServerDeviceList(0x109, std::vector<zarnet::__dev_info__>{
                                                                                  DevInfo(4, 3, 0x046D, 0xC077, 0x0100)});
  doc_->UpdateDeviceInfo(Ip(9).c_str(), datagram.data(), static_cast<int>(datagram.size()));
  ASSERT_TRUE(Eventually([&] { return Device(9, 4).ProductStringState == 2; }));
  refresh();
  EXPECT_NE(ReadTraceLog().find(line), std::string::npos);
}

}  // namespace
}  // namespace presence_test
