// Device mapping's start and stop: the events and locks of a mapping run, the two driver links, the special
// server that brings up the bus driver's control device, and the clean-up that tells the installer
// programs (TavrinAdminCleanUpDone) that everything was released.
#include <cstdlib>
#include <cstring>

#include "admin/Resource.h"
#include "admin/TavrinAdminApp.h"
#include "admin/TavrinAdminDoc.h"
#include "admin/Trace.h"
#include "win32/security.h"
#include "admin/util/Utilities.h"

namespace {

// An event of the mapping run, or null when it cannot be made (only logged: the start goes on).
HANDLE CreateRunEvent(const char* failureLine) {
  HANDLE event = CreateEvent(nullptr, TRUE, FALSE, nullptr);
  if (!event) TraceError("%s", failureLine);
  return event;
}

void CloseRunEvent(HANDLE* event) {
  if (*event && *event != INVALID_HANDLE_VALUE) CloseHandle(*event);
  *event = INVALID_HANDLE_VALUE;
}

bool IsLiveHandle(HANDLE handle) { return handle && handle != INVALID_HANDLE_VALUE; }

}  // namespace

void CTavrinAdminDoc::StartDeviceMapping() {
  if (m_bStopRunning) return;  // the stop in progress owns the events and locks
  CString text;
  text.LoadString(IDS_STARTED_MAPPING);
  AddDeviceMappingLog(text);
  SetStatusText(text);
  TraceAlways("%s\n\n", text.GetString());
  // A second start while mapping runs must not remake the events and locks the threads are using.
  if (!IsDeviceMappingStarted()) CreateEventsAndLocks();
  if (!InitDeviceMapping()) StopDeviceMapping(FALSE);
}

BOOL CTavrinAdminDoc::CreateEventsAndLocks() {
  BusEnumRspEvent = BusRspEvent = nullptr;
  InterlockedExchange(&m_nPendingDeviceRsp, 0);
  InterlockedExchange(&m_nPendingServerRsp, 0);
  InterlockedExchange(&m_lStop, 0);
  InterlockedExchange(&m_lSuspend, 0);
  InterlockedExchange(&m_lResume, 0);
  InterlockedExchange(&m_lDisconnectAll, 0);

  CLEANUP_DONE_EVENT = CreateEvent(nullptr, FALSE, FALSE, kCleanUpDoneEventName);
  if (!CLEANUP_DONE_EVENT) TraceError("CreateEvent() CLEANUP_DONE_EVENT failed.\n");
  if (!m_ServerRequests.Open()) TraceError("CreateEvent() to SereerArrivalDepature signaling  is Failed.\n");
  BusEnumRspEvent = CreateRunEvent("CreateEvent() to BusEnumDriver Status Notification Failed. \n");
  if (!m_DeviceRequests.Open()) TraceError("CreateEvent() to m_hDeviceArRmEvent Failed. \n");
  BusRspEvent = CreateRunEvent("CreateEvent() to BusRspEvent Failed. \n");
  BusDrvrCloseEvent = CreateRunEvent("CreateEvent() to BusDrvrCloseEvent Failed. \n");
  BusEnumDrvrCloseEvent = CreateRunEvent("CreateEvent() to BusEnumDrvrCloseEvent Failed. \n");

  InitializeCriticalSection(&m_csDeviceList);
  InitializeCriticalSection(&m_csServerPresence);
  m_bLocksReady = TRUE;
  return TRUE;
}

BOOL CTavrinAdminDoc::InitDeviceMapping() {
  if (IsDeviceMappingStarted()) return TRUE;
  LoadAutoConnectPrinters();

  BOOL result = TRUE;
  auto fail = [this, &result](const char* text) {
    TraceError("%s", text);
    ShowMessageBox(text, MB_ICONSTOP);
    result = FALSE;
  };
  if (!m_objBusEnum.Open()) {
    fail("OpenBusEnumDriver Failed!! \n");
  } else {
    m_nBusInterfaceArrivals = 0;
    HWND paneWindow = m_pPanes ? m_pPanes->GetFunctionWindow() : nullptr;
    if (!m_objBus.RegisterInterface(paneWindow)) TraceInfo("Bus RegisterInterface failed...\n");
    if (!InitBusEnumDriver()) {
      fail("InitBusEnumDriver Failed!! \n");
    } else if (!SpecialServerArrivalRemoval(TRUE)) {
      fail("SpecialServerArrivalRemoval Failed!! \n");
    }
  }
  __atomic_store_n(&m_bMappingStarted, 1u, __ATOMIC_SEQ_CST);  // a failed start is undone by the stop
  return result;
}

BOOL CTavrinAdminDoc::SpecialServerArrivalRemoval(BOOL bArrival) {
  auto* record = static_cast<SERVER_ARRIVALREMOVAL_INFO*>(std::calloc(1, sizeof(SERVER_ARRIVALREMOVAL_INFO)));
  if (!record) {
    TraceError("Couldn't allocate %d bytes for SERVER_ARRIVALREMOVAL_INFO structure.\n",
               static_cast<int>(sizeof(SERVER_ARRIVALREMOVAL_INFO)));
    return FALSE;
  }
  record->RequestId = SPECIAL_SERVER_REQUEST_ID;
  record->Taken = 1;
  record->Length = SERVER_ARRIVALREMOVAL_INFO_LENGTH;
  record->Arrival = bArrival ? 1 : 0;
  const DWORD serverId = record->ServerId;
  if (bArrival) {
    TraceInfo("Reporting Special Server Arrival to BUSEnum Driver. ServerID : %d\n", serverId);
  } else {
    TraceInfo("Reporting Special Server Removal to BUSEnum Driver. ServerID : %d\n", serverId);
  }
  BOOL result = TRUE;
  if (!m_objBusEnum.NotifyServerPresence(record)) {
    TraceError("Server Arrival Depature intimation failed\n");
    result = FALSE;
  }
  std::free(record);
  return result;
}

void CTavrinAdminDoc::StopDeviceMapping(BOOL bAskUser) {
  // The stop works on the panes and the lists that the pane's handlers use: it runs on the pane's thread.
  HWND paneWindow = m_pPanes ? m_pPanes->GetFunctionWindow() : nullptr;
  if (paneWindow && GetWindowThreadProcessId(paneWindow, nullptr) != GetCurrentThreadId()) {
    ::SendMessage(paneWindow, WM_RUN_STOP_DEVICE_MAPPING, bAskUser, 0);
    return;
  }
  // One stop at a time: the stop pumps messages, and a command or the exit monitor may ask again meanwhile.
  if (m_bStopRunning || !IsDeviceMappingStarted()) return;
  m_bStopRunning = TRUE;
  RunStop(bAskUser);
  m_bStopRunning = FALSE;
  if (m_bCloseAfterStop) {
    m_bCloseAfterStop = FALSE;
    if (HWND mainWindow = m_pPanes ? m_pPanes->GetMainWindow() : nullptr) ::PostMessage(mainWindow, WM_CLOSE_PROGRAM, 0, 0);
  }
}

void CTavrinAdminDoc::RunStop(BOOL bAskUser) {
  CString text;
  const BOOL mayOfferReboot = bAskUser;
  if (bAskUser) {
    text.LoadString(IDS_STOP_MAPPING_QUESTION);
    if (ShowMessageBox(text, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK) return;
  }
  text.LoadString(IDS_STOPPED_MAPPING);
  AddDeviceMappingLog(text);
  SetStatusText(text);
  TraceAlways("%s\n\n", text.GetString());

  // Another operation's wait window may be open (the exit monitor stops without asking): the stop then
  // goes on without its own and leaves the other one to its opener.
  const BOOL waitWindowOpened = m_pPanes && m_pPanes->OpenWaitWindow("Please Wait...", kWaitAnimation);

  // m_lStop, and the broadcast listener woken; it closes its socket itself once it no longer uses it.
  StopBroadcastListener();
  // The refresh, and a bus side that came up just now starts nothing more.
  if (m_pPanes) m_pPanes->KillMappingTimers();
  // The broadcast listener, the printer monitors and the product-string fetches end on m_lStop; they
  // queue requests and use the lists, so they are gone before the final removals are counted.
  JoinThread(&m_hDetectServerThread);
  WaitForPrinterMonitors();
  StopProductStringFetches();

  BOOL timedOut = ReleaseDevicesAndDrivers();
  if (m_pPanes) {
    m_pPanes->DeleteAllTreeItems();
    m_pPanes->ClearDeviceDetails();
  }

  SleepPumping(m_Pauses.StopPumpMs);
  if (waitWindowOpened) m_pPanes->CloseWaitWindow();

  // Both notification threads were ended and joined in ReleaseDevicesAndDrivers, each before its link
  // closed, and none can have started since (the pane ignores the control device while a stop runs).
  CleanUp();

  if (InterlockedCompareExchange(&m_nPendingDeviceRsp, 0, 0) == 0 &&
      InterlockedCompareExchange(&m_nPendingServerRsp, 0, 0) == 0) {
    timedOut = FALSE;
  }
  if (timedOut && mayOfferReboot) {
    text.LoadString(IDS_REBOOT_QUESTION);
    if (ShowMessageBox(text, MB_OKCANCEL | MB_ICONINFORMATION) == IDOK) {
      EnablePrivilege("SeShutdownPrivilege");
      ExitWindowsEx(EWX_SHUTDOWN | EWX_REBOOT, 0xFFFFFFFF);
    }
  }
  SetStatusText("");
}

BOOL CTavrinAdminDoc::ReleaseDevicesAndDrivers() {
  const BOOL result = DisconnectAll(TRUE, TRUE, TRUE);

  EnterCriticalSection(&m_csDeviceList);
  while (!m_DeviceList.IsEmpty()) std::free(m_DeviceList.RemoveHead().ProductString);
  LeaveCriticalSection(&m_csDeviceList);
  EnterCriticalSection(&m_csServerPresence);
  m_ServerPresenceList.RemoveAll();
  LeaveCriticalSection(&m_csServerPresence);

  // The device thread uses the control device link: it ends before the link is closed.
  m_objBus.DeRegisterInterface();
  StopBusDriverThread();
  m_objBus.Close();
  m_nBusInterfaceArrivals = 0;
  SpecialServerArrivalRemoval(FALSE);
  // Likewise the server thread and the enumerator link (its answer to the removal is only logged).
  SetBusEnumDrvrCloseEvent();
  JoinThread(&m_hServerNotifyThread);
  m_bServerThreadUp = false;
  m_objBusEnum.Close();

  m_bKernelHostLost = FALSE;
  __atomic_store_n(&m_bMappingStarted, 0u, __ATOMIC_SEQ_CST);
  return result;
}

BOOL CTavrinAdminDoc::CleanUp() {
  // Every thread of the run has been joined: nothing uses the tables, locks or events any more. Requests
  // that were never answered still own their identifier blocks: the tables free them.
  m_DeviceRequests.Close();
  m_ServerRequests.Close();

  if (m_bLocksReady) {
    m_bLocksReady = FALSE;
    DeleteCriticalSection(&m_csDeviceList);
    DeleteCriticalSection(&m_csServerPresence);
  }
  CloseRunEvent(&BusEnumRspEvent);
  CloseRunEvent(&BusRspEvent);
  CloseRunEvent(&BusDrvrCloseEvent);
  CloseRunEvent(&BusEnumDrvrCloseEvent);
  if (CLEANUP_DONE_EVENT != INVALID_HANDLE_VALUE) {
    if (CLEANUP_DONE_EVENT) {
      SetEvent(CLEANUP_DONE_EVENT);
      Sleep(m_Pauses.CleanUpDoneHoldMs);  // the installer that waits for it by name gets it before the handle goes
      CloseHandle(CLEANUP_DONE_EVENT);
    }
    CLEANUP_DONE_EVENT = INVALID_HANDLE_VALUE;
  }
  return TRUE;
}

BOOL CTavrinAdminDoc::SetBusDrvrCloseEvent() {
  if (IsLiveHandle(BusDrvrCloseEvent)) SetEvent(BusDrvrCloseEvent);
  return TRUE;
}

BOOL CTavrinAdminDoc::SetBusEnumDrvrCloseEvent() {
  if (IsLiveHandle(BusEnumDrvrCloseEvent)) SetEvent(BusEnumDrvrCloseEvent);
  return TRUE;
}

void CTavrinAdminDoc::StopBusDriverThread() {
  if (!m_hDeviceNotifyThread) return;
  SetBusDrvrCloseEvent();
  JoinThread(&m_hDeviceNotifyThread);
  m_bDeviceThreadUp = false;
}

void CTavrinAdminDoc::JoinThread(HANDLE* thread) {
  if (!*thread) return;
  // The pane's thread keeps its windows alive meanwhile; the thread may be waiting for a posted answer.
  WaitWithMessageLoop(thread, 1);
  CloseHandle(*thread);
  *thread = nullptr;
}
