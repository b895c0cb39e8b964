// Device mapping's start and stop through the commands, with the drivers up and down, and the shut-down
// that the installers ask for through TavrinAdminShutDownEvent.
#include <algorithm>
#include <cstring>
#include <regex>

#include "admin/Resource.h"
#include "admin/ui/UIThread.h"
#include "win32/security.h"
#include "doc_fixture.h"
#include "win32/setupapi.h"

namespace admin_doc_test {
namespace {

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// The installers' view of the clean-up: the named event, opened while the run has it.
HANDLE OpenCleanUpDone() { return OpenEvent(SYNCHRONIZE, FALSE, "TavrinAdminCleanUpDone"); }

TEST_F(DocTest, WithoutTheDriversTheStartShowsTheBoxAndEndsIdleWithOneCleanUpSignal) {
  HANDLE cleanUpDone = nullptr;
  answer_ = [&](const Box&) {
    cleanUpDone = OpenCleanUpDone();  // exists from the start of the run to its clean-up
    return IDOK;
  };
  Command(ID_START_DEVICE_MAPPING);

  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "OpenBusEnumDriver Failed!! \n");
  EXPECT_EQ(boxes_[0].type, MB_ICONSTOP);
  EXPECT_FALSE(doc_->IsDeviceMappingStarted());
  EXPECT_FALSE(doc_->AreLocksReady());
  EXPECT_EQ(doc_->GetCleanUpDoneEvent(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(doc_->ServerRequests().IsOpen());
  EXPECT_FALSE(doc_->IsServerThreadRunning());
  EXPECT_EQ(g_pWaitThread, nullptr);
  ASSERT_NE(cleanUpDone, nullptr);
  EXPECT_EQ(WaitForSingleObject(cleanUpDone, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(cleanUpDone, 0), WAIT_TIMEOUT);  // auto-reset: set exactly once
  CloseHandle(cleanUpDone);
  EXPECT_EQ(MappingLogTexts(), (std::vector<std::string>{"Started Device Mapping Functionality.",
                                                         "Stopped the Device Mapping functionality."}));
  const std::vector<LogRow> rows = frame_->GetBottemFormView()->GetDeviceMappingLog();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].Serial, 2);
  EXPECT_TRUE(std::regex_match(rows[1].Time.str(), std::regex(R"(\d\d-\d\d-\d{4} : \d\d:\d\d:\d\d)")))
      << rows[1].Time.str();
  EXPECT_EQ(frame_->GetStatusText(), "");
  const std::string log = ReadLog();
  EXPECT_NE(log.find("Started Device Mapping Functionality.\r\n\r\n"), std::string::npos);
  EXPECT_NE(log.find("OpenBusEnumDriver Failed!! \r\n"), std::string::npos);

  // The stop command while nothing runs does nothing.
  Command(ID_STOP_DEVICE_MAPPING);
  EXPECT_EQ(boxes_.size(), 1u);
}

TEST_F(DocTest, StartBringsTheBusSideUpAndAConfirmedStopReleasesEverything) {
  StartHost();
  StartMappingWithBus();
  EXPECT_EQ(frame_->GetStatusText(), "Started Device Mapping Functionality.");
  const std::string controlPath = [] {
    HDEVINFO set = SetupDiGetClassDevs(&GUID_DEVINTERFACE_BUSDRIVER, nullptr, nullptr,
                                       DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    const bool present = SetupDiEnumDeviceInterfaces(set, nullptr, &GUID_DEVINTERFACE_BUSDRIVER, 0, &data);
    SetupDiDestroyDeviceInfoList(set);
    return present ? std::string("present") : std::string();
  }();
  EXPECT_EQ(controlPath, "present");

  // A second start while mapping runs reopens nothing and keeps the run's events and threads.
  HANDLE requests = doc_->ServerRequests().Event();
  const std::string logBefore = ReadLog();
  Command(ID_START_DEVICE_MAPPING);
  EXPECT_EQ(doc_->ServerRequests().Event(), requests);
  EXPECT_TRUE(doc_->IsServerThreadRunning());
  // No second server thread: it would say it waits a second time.
  const std::string waiting = "Waiting for NotifyServerArRmToDriver Thread";
  const std::string logAfter = ReadLog();
  EXPECT_EQ(logAfter.find(waiting, logBefore.size()), std::string::npos);
  EXPECT_TRUE(boxes_.empty());

  // Cancelled: nothing changes.
  answer_ = [](const Box&) { return IDCANCEL; };
  Command(ID_STOP_DEVICE_MAPPING);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Stopping the Device Mapping functionality. Do you want to continue?");
  EXPECT_EQ(boxes_[0].type, static_cast<UINT>(MB_OKCANCEL | MB_ICONINFORMATION));
  EXPECT_TRUE(doc_->IsDeviceMappingStarted());

  HANDLE cleanUpDone = OpenCleanUpDone();
  ASSERT_NE(cleanUpDone, nullptr);
  answer_ = nullptr;
  Command(ID_STOP_DEVICE_MAPPING);
  EXPECT_EQ(boxes_.size(), 2u);  // the question only: nothing timed out, so no reboot is offered
  EXPECT_EQ(tavrin::shutdown::RequestCount(), 0);
  EXPECT_FALSE(doc_->IsDeviceMappingStarted());
  EXPECT_EQ(doc_->Bus().GetHandle(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(doc_->BusEnum().GetHandle(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(doc_->IsServerThreadRunning());
  EXPECT_FALSE(doc_->IsDeviceThreadRunning());
  EXPECT_FALSE(doc_->IsListenerRunning());
  EXPECT_TRUE(doc_->IsStopping());
  EXPECT_EQ(WaitForSingleObject(cleanUpDone, 0), WAIT_OBJECT_0);
  CloseHandle(cleanUpDone);
  EXPECT_EQ(frame_->GetStatusText(), "");
  EXPECT_TRUE(MappingLogHas("Stopped the Device Mapping functionality."));
  // Both notification threads had ended before the clean-up.
  const std::string log = ReadLog();
  EXPECT_EQ(Count(log, "NotifyDeviceArRmToDriver Thread: >> Close Bus Drvr Close..\r\n"), 1) << log;
  EXPECT_EQ(Count(log, "NotifyServerArRmToDriver Thread: >> BusEnumDriver Close Event..\r\n"), 1) << log;

  // Mapping starts again after a stop.
  boxes_.clear();
  StartMappingWithBus();
}

TEST_F(DocTest, TheControlDeviceLeavingEndsTheDeviceThreadAndClosesTheLink) {
  StartHost();
  StartMappingWithBus();
  // The special server reported gone: the enumerator removes the control device's node.
  ASSERT_TRUE(doc_->SpecialServerArrivalRemoval(FALSE));
  ASSERT_TRUE(PumpUntil([&] { return doc_->Bus().GetHandle() == INVALID_HANDLE_VALUE; })) << ReadLog();
  EXPECT_FALSE(doc_->IsDeviceThreadRunning());
  EXPECT_EQ(doc_->GetBusInterfaceArrivals(), 0u);
  PumpFor(300);  // the removal's answer is not a confirmation: nothing is reopened
  EXPECT_EQ(doc_->Bus().GetHandle(), INVALID_HANDLE_VALUE);
  EXPECT_TRUE(boxes_.empty());
  // A second removal notice (the interface's, after the enumerator's) finds nothing open: the count of
  // arrivals stays at 0 and the next arrival still opens the link.
  DEV_BROADCAST_DEVICEINTERFACE notice{};
  notice.dbcc_size = sizeof notice;
  notice.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  notice.dbcc_classguid = GUID_DEVINTERFACE_BUSDRIVER;
  for (int i = 0; i < 2; ++i)
    frame_->GetFunctionView()->SendMessage(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(&notice));
  EXPECT_EQ(doc_->GetBusInterfaceArrivals(), 0u);
  EXPECT_TRUE(boxes_.empty());

  // A confirmation that comes before the bus driver has started on the node is no failure: the
  // interface notice that follows opens it.
  frame_->GetFunctionView()->SendMessage(WM_SPECIAL_SERVER_ARRIVED, DBT_DEVICEARRIVAL, 0);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(doc_->GetBusInterfaceArrivals(), 0u);
  // The special server back: the bus side comes up again with a new device thread.
  ASSERT_TRUE(doc_->SpecialServerArrivalRemoval(TRUE));
  ASSERT_TRUE(PumpUntil([&] { return doc_->IsDeviceThreadRunning(); })) << ReadLog();
  EXPECT_NE(doc_->Bus().GetHandle(), INVALID_HANDLE_VALUE);
  EXPECT_TRUE(boxes_.empty());
  Command(ID_STOP_DEVICE_MAPPING);
  EXPECT_FALSE(doc_->IsDeviceMappingStarted());
}

TEST_F(DocTest, AStopWhoseAnswersTimeOutOffersARebootOnlyWhenTheUserAskedForIt) {
  StartHost();
  StartMappingWithBus();
  // A server whose departure is under way and was never sent: its answer never comes.
  ServerPresenceEntry server{};
  std::strncpy(server.ServerIp, "127.0.0.5", sizeof server.ServerIp - 1);
  server.Active = 0;
  server.RequestStatus = ARRM_STATUS_PENDING;
  EnterCriticalSection(&doc_->m_csServerPresence);
  doc_->m_ServerPresenceList.AddTail(server);
  LeaveCriticalSection(&doc_->m_csServerPresence);
  const int reboots = tavrin::shutdown::RequestCount();
  Command(ID_STOP_DEVICE_MAPPING);
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_EQ(boxes_[1].text, "Press OK to Reboot the System OR CANCEL to Reboot Later.");
  EXPECT_EQ(boxes_[1].type, static_cast<UINT>(MB_OKCANCEL | MB_ICONINFORMATION));
  ASSERT_EQ(tavrin::shutdown::RequestCount(), reboots + 1);
  EXPECT_EQ(tavrin::shutdown::LastRequest().flags, EWX_SHUTDOWN | EWX_REBOOT);
  EXPECT_EQ(tavrin::shutdown::LastRequest().reason, 0xFFFFFFFFu);

  // The same on the exit monitor's road: no question, no reboot.
  boxes_.clear();
  StartHost();
  StartMappingWithBus();
  EnterCriticalSection(&doc_->m_csServerPresence);
  doc_->m_ServerPresenceList.AddTail(server);
  LeaveCriticalSection(&doc_->m_csServerPresence);
  doc_->StopDeviceMapping(FALSE);
  EXPECT_FALSE(doc_->IsDeviceMappingStarted());
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(tavrin::shutdown::RequestCount(), reboots + 1);
}

TEST_F(DocTest, AStopSurvivesTheDriversGoingAway) {
  StartHost();
  StartMappingWithBus();
  host_->Kill();
  Command(ID_STOP_DEVICE_MAPPING);
  EXPECT_FALSE(doc_->IsDeviceMappingStarted());
  EXPECT_FALSE(doc_->IsDeviceThreadRunning());
  EXPECT_FALSE(doc_->IsServerThreadRunning());
  EXPECT_EQ(doc_->GetCleanUpDoneEvent(), INVALID_HANDLE_VALUE);
}

TEST_F(DocTest, ShutDownEventDuringMappingStopsWithoutAQuestionAndEndsTheProgram) {
  StartHost();
  StartMappingWithBus();
  HANDLE cleanUpDone = OpenCleanUpDone();
  ASSERT_NE(cleanUpDone, nullptr);
  HANDLE shutDown = OpenEvent(EVENT_MODIFY_STATE, FALSE, "TavrinAdminShutDownEvent");  // as the installer does
  ASSERT_NE(shutDown, nullptr);
  SetEvent(shutDown);
  CloseHandle(shutDown);

  EXPECT_TRUE(PumpUntil([&] { return app_->GetDocument() == nullptr; }, 20000)) << ReadLog();
  doc_ = nullptr;
  EXPECT_TRUE(boxes_.empty());  // no question, no reboot offer
  EXPECT_EQ(app_->m_pMainWnd, nullptr);
  EXPECT_TRUE(PumpUntil([&] { return quit_; }));  // the program's message loop ends
  EXPECT_EQ(WaitForSingleObject(cleanUpDone, 0), WAIT_OBJECT_0);
  CloseHandle(cleanUpDone);
  EXPECT_EQ(Count(ReadLog(), "Stopped the Device Mapping functionality.\r\n"), 1);
}

TEST_F(DocTest, OnlyOneStopRunsWhenTheUserAndTheShutDownEventAskTogether) {
  StartHost();
  StartMappingWithBus();
  HANDLE cleanUpDone = OpenCleanUpDone();
  int questions = 0;
  answer_ = [&](const Box& box) {
    if (box.text.rfind("Stopping the Device Mapping", 0) == 0) {
      ++questions;
      // Asked again from inside the stop: the command is refused, and so is a second start.
      Command(ID_STOP_DEVICE_MAPPING);
      Command(ID_START_DEVICE_MAPPING);
      SetEvent(doc_->GetAppExitEvent());  // the installer asks while the user's stop runs
    }
    return IDOK;
  };
  Command(ID_STOP_DEVICE_MAPPING);
  EXPECT_TRUE(PumpUntil([&] { return app_->GetDocument() == nullptr; }, 20000)) << ReadLog();
  doc_ = nullptr;
  EXPECT_EQ(questions, 1);
  EXPECT_EQ(WaitForSingleObject(cleanUpDone, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(cleanUpDone, 0), WAIT_TIMEOUT);
  CloseHandle(cleanUpDone);
  const std::string log = ReadLog();
  EXPECT_EQ(Count(log, "Stopped the Device Mapping functionality.\r\n"), 1) << log;
  EXPECT_EQ(Count(log, "Started Device Mapping Functionality.\r\n"), 1) << log;
}

TEST_F(DocTest, AfterAUserStopTheShutDownEventStillEndsTheProgram) {
  StartHost();
  StartMappingWithBus();
  Command(ID_STOP_DEVICE_MAPPING);
  ASSERT_FALSE(doc_->IsDeviceMappingStarted());
  SetEvent(doc_->GetAppExitEvent());
  EXPECT_TRUE(PumpUntil([&] { return app_->GetDocument() == nullptr; })) << ReadLog();
  doc_ = nullptr;
  EXPECT_EQ(boxes_.size(), 1u);  // the user's question only
}

}  // namespace
}  // namespace admin_doc_test

namespace admin_doc_test {
namespace {

TEST_F(DocTest, ClosingTheDocumentWhileMappingRunsEndsItsThreadsFirst) {
  StartHost();
  StartMappingWithBus();
  HANDLE cleanUpDone = OpenEvent(SYNCHRONIZE, FALSE, "TavrinAdminCleanUpDone");
  ASSERT_NE(cleanUpDone, nullptr);
  app_->CloseAllDocuments(FALSE);
  doc_ = nullptr;
  EXPECT_EQ(app_->GetDocument(), nullptr);
  EXPECT_EQ(WaitForSingleObject(cleanUpDone, 0), WAIT_OBJECT_0);
  CloseHandle(cleanUpDone);
  EXPECT_TRUE(boxes_.empty());
}

}  // namespace
}  // namespace admin_doc_test
