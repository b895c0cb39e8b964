// The spooler stand-in, and the printer monitors that connect an auto-connect printer while its queue
// holds jobs.
#include <chrono>
#include <cstring>
#include <thread>

#include "admin/RegistryStore.h"
#include "presence_fixture.h"
#include "win32/winspool.h"

namespace presence_test {
namespace {

class SpoolTest : public tavrin::test::SysrootTest {};

TEST_F(SpoolTest, QueuesCountJobsAndLevelTwoTellsTheCount) {
  char name[] = "Lab \\\\ Printer/2";
  HANDLE printer = nullptr;
  EXPECT_FALSE(OpenPrinter(name, &printer, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
  EXPECT_FALSE(tavrin::spool::AddJob(name));

  ASSERT_TRUE(tavrin::spool::AddPrinter(name));
  ASSERT_TRUE(OpenPrinter(name, &printer, nullptr));
  DWORD needed = 0;
  EXPECT_FALSE(GetPrinter(printer, 2, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  ASSERT_GT(needed, sizeof(PRINTER_INFO_2));
  std::vector<BYTE> buffer(needed);
  EXPECT_FALSE(GetPrinter(printer, 2, buffer.data(), needed - 1, &needed));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  ASSERT_TRUE(GetPrinter(printer, 2, buffer.data(), needed, &needed));
  auto* info = reinterpret_cast<PRINTER_INFO_2*>(buffer.data());
  EXPECT_STREQ(info->pPrinterName, name);
  EXPECT_EQ(info->cJobs, 0u);

  EXPECT_TRUE(tavrin::spool::AddJob(name));
  EXPECT_TRUE(tavrin::spool::AddJob(name));
  EXPECT_TRUE(tavrin::spool::RemoveJob(name));
  ASSERT_TRUE(GetPrinter(printer, 2, buffer.data(), needed, &needed));
  EXPECT_EQ(reinterpret_cast<PRINTER_INFO_2*>(buffer.data())->cJobs, 1u);
  EXPECT_TRUE(tavrin::spool::RemoveJob(name));
  EXPECT_TRUE(tavrin::spool::RemoveJob(name));  // never below zero
  EXPECT_EQ(tavrin::spool::GetJobs(name), 0);
  EXPECT_TRUE(tavrin::spool::SetJobs(name, 7));
  EXPECT_EQ(tavrin::spool::GetJobs(name), 7);
  EXPECT_TRUE(tavrin::spool::AddPrinter(name));  // installed again: the queue stays
  EXPECT_EQ(tavrin::spool::GetJobs(name), 7);

  // A deleted printer: the handle still open fails its next look.
  ASSERT_TRUE(tavrin::spool::DeletePrinter(name));
  EXPECT_FALSE(GetPrinter(printer, 2, buffer.data(), needed, &needed));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
  EXPECT_TRUE(ClosePrinter(printer));
  EXPECT_FALSE(ClosePrinter(printer));

  char other[] = "lab \\\\ printer/2";  // names are exact
  EXPECT_FALSE(OpenPrinter(other, &printer, nullptr));
}

class PrinterMonitorTest : public DocUnitTest {
 protected:
  void SetUp() override {
    DocUnitTest::SetUp();
    doc_->m_dwPrinterPollPeriod = 10;
    AddDevice(2, DevInfo(3, 7, 0x03F0, 0x0517, 0x0100), DEVICE_STATE_FREE);
    ASSERT_TRUE(tavrin::spool::AddPrinter(kName));
  }

  PrinterInfo Printer(DWORD autoReconnect) {
    PrinterInfo printer{};
    strncpy(printer.PrinterName, kName, sizeof printer.PrinterName - 1);
    printer.AutoReconnect = autoReconnect;
    printer.Vid = 0x03F0;
    printer.Pid = 0x0517;
    printer.Rev = 0x0100;
    printer.DeviceIP = NetIp(2);
    printer.DevicePort = 3;
    return printer;
  }

  // Waits for the next request queued for the printer, then answers and frees it.
  bool NextRequest(bool arrival) {
    std::vector<DEVICE_ARRIVALREMOVAL_INFO> queued;
    if (!Eventually([&] { return !(queued = QueuedDeviceRequests()).empty(); })) return false;
    ReleaseDeviceSlots();
    return queued.size() == 1 && queued[0].Arrival == (arrival ? 1 : 0) && queued[0].PortNum == 3;
  }

  bool MonitorRunning() {
    return strcmp(doc_->GetPrinterMonitor(0).PrinterName, kName) == 0;
  }

  static constexpr char kName[] = "Office Laser";
};

TEST_F(PrinterMonitorTest, ThePrinterIsConnectedWhileJobsWaitAndDisconnectedWhenTheQueueEmpties) {
  doc_->OfferAutoConnectPrinter(Printer(1));
  doc_->StartPrinterMonitors();
  ASSERT_TRUE(MonitorRunning());

  tavrin::spool::AddJob(kName);
  ASSERT_TRUE(NextRequest(true));
  tavrin::spool::AddJob(kName);  // a second job while connected: nothing new
  tavrin::spool::RemoveJob(kName);
  tavrin::spool::RemoveJob(kName);
  ASSERT_TRUE(NextRequest(false));
  tavrin::spool::AddJob(kName);
  ASSERT_TRUE(NextRequest(true));

  // Stopping mapping disconnects a connected printer and ends its monitor.
  doc_->StopBroadcastListener();  // sets the stop flag
  doc_->WaitForPrinterMonitors();
  EXPECT_TRUE(NextRequest(false));
  EXPECT_FALSE(MonitorRunning());
}

TEST_F(PrinterMonitorTest, AConnectThatCouldNotBeQueuedIsTriedAgainAtTheNextPoll) {
  doc_->OfferAutoConnectPrinter(Printer(1));
  doc_->StartPrinterMonitors();
  FillAllDeviceSlots();
  tavrin::spool::AddJob(kName);
  ASSERT_TRUE(Eventually([] {  // a poll found no free slot
    return ReadTraceLog().find("No free Index in m_ArrDeviceArRmInfo aray for Device Arrival intimation") !=
           std::string::npos;
  }));
  for (int i = 0; i < kRequestTableSlots; ++i) doc_->DeviceRequests().Edit(i, [](DEVICE_ARRIVALREMOVAL_INFO& slot) { slot = {}; });
  EXPECT_TRUE(NextRequest(true));
}

TEST_F(PrinterMonitorTest, AConnectTheBusDriverRefusedIsTriedAgainWhileJobsWait) {
  doc_->OfferAutoConnectPrinter(Printer(1));
  doc_->StartPrinterMonitors();
  tavrin::spool::AddJob(kName);

  // The bus driver refuses the first connect (the server's arrival has not reached it yet).
  std::vector<DEVICE_ARRIVALREMOVAL_INFO> queued;
  ASSERT_TRUE(Eventually([&] { return !(queued = QueuedDeviceRequests()).empty(); }));
  ASSERT_EQ(queued.size(), 1u);
  ASSERT_EQ(queued[0].Arrival, 1u);
  doc_->DeviceRequests().Edit(static_cast<int>(queued[0].RequestId) - 1,
                              [](DEVICE_ARRIVALREMOVAL_INFO& slot) { slot.ArRmStatus = ARRM_STATUS_SERVER_NOT_FOUND; });
  doc_->OnDeviceAnswer(queued[0].RequestId);

  EXPECT_TRUE(NextRequest(true));  // asked again, not left waiting for ever
  // Not refused this time: nothing more is asked until the queue empties.
  tavrin::spool::RemoveJob(kName);
  EXPECT_TRUE(NextRequest(false));
}

TEST_F(PrinterMonitorTest, SwitchingAutoConnectOffWhileAJobPrintsDisconnectsAtOnce) {
  doc_->OfferAutoConnectPrinter(Printer(1));
  doc_->StartPrinterMonitors();
  tavrin::spool::AddJob(kName);
  ASSERT_TRUE(NextRequest(true));
  EXPECT_TRUE(doc_->UpdatePrinterMonitorEntry(Printer(0)));
  EXPECT_TRUE(NextRequest(false));
  doc_->WaitForPrinterMonitors();
  EXPECT_FALSE(MonitorRunning());
  EXPECT_FALSE(doc_->UpdatePrinterMonitorEntry(Printer(0)));
}

TEST_F(PrinterMonitorTest, OneMonitorPerNameAndNoneForAPrinterThatIsGone) {
  EXPECT_TRUE(doc_->OfferAutoConnectPrinter(Printer(1)));
  doc_->StartPrinterMonitors();
  EXPECT_FALSE(doc_->OfferAutoConnectPrinter(Printer(1)));  // a monitor carries the name
  PrinterInfo other = Printer(1);
  strcpy(other.PrinterName, "office laser");  // another name: case matters
  ASSERT_TRUE(tavrin::spool::AddPrinter("office laser"));
  EXPECT_TRUE(doc_->OfferAutoConnectPrinter(other));
  doc_->StartPrinterMonitors();
  EXPECT_STREQ(doc_->GetPrinterMonitor(1).PrinterName, "office laser");
  EXPECT_EQ(doc_->GetPrinterMonitor(2).PrinterName[0], '\0');
  // Deleting a Windows printer ends its monitor at its next poll, which frees its slot.
  tavrin::spool::DeletePrinter("office laser");
  ASSERT_TRUE(Eventually([&] { return doc_->GetPrinterMonitor(1).PrinterName[0] == '\0'; }));
  tavrin::spool::DeletePrinter(kName);
  ASSERT_TRUE(Eventually([&] { return !MonitorRunning(); }));
  EXPECT_TRUE(QueuedDeviceRequests().empty());  // and queues nothing
}

TEST_F(PrinterMonitorTest, PrintersOfTheRegistryAreLoadedAndANewOneIsAddedSwitchedOff) {
  DeviceEntry device = Device(2, 3);
  InstallWindowsPrinter(kName, device, 1);
  AddDevice(2, DevInfo(4, 7, 0x04B8, 0x0005, 0x0100), DEVICE_STATE_FREE);
  DeviceEntry second = Device(2, 4);
  InstallWindowsPrinter("Photo", second, -1);

  CRegistryStore registry;
  doc_->LoadAutoConnectPrinters();
  EXPECT_TRUE(registry.AddAutoConnectPrinter(*doc_, second));
  EXPECT_FALSE(registry.AddAutoConnectPrinter(*doc_, second));  // its key exists now
  const std::vector<PrinterInfo> printers = doc_->GetPrinters();
  ASSERT_EQ(printers.size(), 2u);
  const PrinterInfo& loaded = printers.front();
  EXPECT_STREQ(loaded.PrinterName, kName);
  EXPECT_EQ(loaded.AutoReconnect, 1u);
  EXPECT_EQ(loaded.DeviceIP, NetIp(2));
  EXPECT_EQ(loaded.DevicePort, 3);
  const PrinterInfo& added = printers.back();
  EXPECT_STREQ(added.PrinterName, "Photo");
  EXPECT_EQ(added.AutoReconnect, 0u);
  EXPECT_EQ(added.Vid, 0x04B8);
  EXPECT_EQ(added.DevicePort, 4);
  EXPECT_EQ(registry.GetAutoReconnect("Photo"), 0u);
}

}  // namespace
}  // namespace presence_test
