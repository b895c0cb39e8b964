// CTavrinAdminDoc: the one document of TavrinAdmin. It holds all state of the system: the panes to
// report to, the device and printer lists, the events and locks the worker threads share, and the
// device-mapping state. The device-mapping start and stop live in DocLifecycle.cpp.
#pragma once
#include "admin/DeviceEntry.h"
#include "admin/DocPanes.h"
#include "admin/PrinterInfo.h"
#include "admin/RequestTable.h"
#include "admin/ServerPresenceEntry.h"
#include "admin/bus/Bus.h"
#include "admin/bus/BusEnum.h"
#include "admin/comm/Discovery.h"
#include "admin/comm/DocServices.h"
#include "admin/upgrade/SelectedServerEntry.h"
#include "zarnet/command.h"
#include "zarnet/device_list.h"
#include "mfc/mfc.h"
#include "win32/winsock.h"
// Server presence, device list, connect and printers
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <string>
#include <vector>
#include <functional>
#include <memory>
#include <mutex>

#include "zarnet/ports.h"

class CServerComm;
class ProductStringPool;

// What the selected rows of the server list allow (the update rules of the Server Manager commands).
struct ServerSelection {
  int Count = 0;
  BOOL AnyLocked = FALSE;
  BOOL OneLocked = FALSE;    // exactly one row, "Locked"
  BOOL OneUnlocked = FALSE;  // exactly one row, not "Locked"
};

// The three pairs of view-mode flags (m_ViewModeFlags): which list each right-hand pane shows.
enum ViewModeFlag {
  kFunctionServerManager, kFunctionDeviceMapping,
  kDetailsServerManager, kDetailsDeviceMapping,
  kLogDeviceMapping, kLogServerManager,
};

constexpr int kPrinterMonitorSlots = 255;

// A server is found by its address text.
struct ServerKeys {
  static std::string Key(const ServerPresenceEntry& server) {
    return std::string(server.ServerIp, strnlen(server.ServerIp, sizeof server.ServerIp));
  }
  static std::string Group(const ServerPresenceEntry& server) { return Key(server); }
};
using ServerPresenceList = IndexedList<ServerPresenceEntry, ServerKeys>;

// How many servers and devices the lists keep: anyone on the network can broadcast device lists, so
// they are bounded (well above the largest installation: 256 servers of 14 devices).
struct ListLimits {
  DWORD MaxServers = 1024;
  DWORD MaxDevices = 16384;
};
constexpr char kCleanUpDoneEventName[] = "TavrinAdminCleanUpDone";

// The pauses of device mapping, settable so that tests need not wait them out.
struct DocPauses {
  DWORD StopPumpMs = 2000;        // the stop pumps messages this long before its wait window closes
  DWORD BusUpDelayMs = 1000;      // from the control device's opening to the broadcast listener's start
  DWORD CleanUpDoneHoldMs = 100;  // TavrinAdminCleanUpDone stays open this long after it is set
};

class CTavrinAdminDoc : public CDocument {
  DECLARE_DYNCREATE(CTavrinAdminDoc)

 public:
  CTavrinAdminDoc();
  ~CTavrinAdminDoc() override;

  BOOL OnNewDocument() override;
  // A document closed while mapping runs stops it before its panes go.
  void OnCloseDocument() override;

  // The user interface the document reports to; null while there is none (the worker threads read the
  // functional pane's window once when they start).
  void SetPanes(IDocPanes* panes) { m_pPanes = panes; }
  IDocPanes* GetPanes() const { return m_pPanes; }
  void SetPauses(const DocPauses& pauses) { m_Pauses = pauses; }
  const DocPauses& GetPauses() const { return m_Pauses; }

  // Read by the exit monitor too.
  DWORD IsDeviceMappingStarted() const { return __atomic_load_n(&m_bMappingStarted, __ATOMIC_SEQ_CST); }
  // Command "&Start Device Mapping".
  void StartDeviceMapping();
  // Command "St&op Device Mapping" (askUser TRUE) and the shut-down road of the exit monitor (FALSE).
  // Runs on the functional pane's thread: a call from any other thread is handed to it and waited for.
  void StopDeviceMapping(BOOL bAskUser);
  // A stop is between its question and its clean-up; start and stop commands are refused meanwhile.
  BOOL IsStopRunning() const { return m_bStopRunning; }
  // The main frame's close that arrives while a stop runs: the program closes when the stop is done.
  void CloseProgramAfterStop() { m_bCloseAfterStop = TRUE; }
  // The events and critical sections of a mapping run exist.
  BOOL AreLocksReady() const { return m_bLocksReady; }
  BOOL CreateEventsAndLocks();
  BOOL InitDeviceMapping();
  BOOL SpecialServerArrivalRemoval(BOOL bArrival);
  // TRUE when the drivers' answers to the final removals timed out.
  BOOL ReleaseDevicesAndDrivers();
  BOOL CleanUp();
  BOOL SetBusDrvrCloseEvent();
  BOOL SetBusEnumDrvrCloseEvent();
  void SetAppExitEvent(HANDLE event) { AppExitEvent = event; }
  // TavrinAdminCleanUpDone while a mapping run has it open; INVALID_HANDLE_VALUE after the clean-up.
  HANDLE GetCleanUpDoneEvent() const { return CLEANUP_DONE_EVENT; }
  // Control device arrivals the functional pane acted on since the start (0 or 1).
  DWORD GetBusInterfaceArrivals() const { return m_nBusInterfaceArrivals; }
  HANDLE GetAppExitEvent() const { return AppExitEvent; }

  // The driver notification threads (DocNotify.cpp).
  BOOL InitBusEnumDriver();
  BOOL InitBusDriver();
  // Ends the device thread (its close event) and waits for it; before the control device link is closed.
  void StopBusDriverThread();
  static DWORD WINAPI NotifyServerArRmToDriver(LPVOID document);
  static DWORD WINAPI NotifyDeviceArRmToDriver(LPVOID document);
  // Read by the broadcast listener too (the disconnect after a resume).
  BOOL IsServerThreadRunning() const { return m_bServerThreadUp.load(); }
  BOOL IsDeviceThreadRunning() const { return m_bDeviceThreadUp.load(); }
  BOOL IsListenerRunning() const { return m_hDetectServerThread != nullptr; }
  CBus& Bus() { return m_objBus; }
  CBusEnum& BusEnum() { return m_objBusEnum; }
  ServerRequestTable& ServerRequests() { return m_ServerRequests; }
  DeviceRequestTable& DeviceRequests() { return m_DeviceRequests; }

  // What the functional pane hands over (its messages and timers). Each runs on its thread.
  // A server request's final status (WM_USER+2): the entry updated, the result reported, the slot freed.
  void OnServerAnswer(DWORD requestId);
  // A device request's final status (WM_USER+3).
  void OnDeviceAnswer(DWORD requestId);
  // The control device arrived (an interface notice, or the enumerator's confirmation): opened and its
  // thread started. TRUE when the bus side came up now (the pane then waits GetPauses().BusUpDelayMs and
  // calls OnBusUp).
  BOOL OnControlDeviceArrival(BOOL confirmation);
  // The control device left (its interface notice, or the kernel host is gone).
  void OnControlDeviceRemoval();
  // The kernel host went away with the control device: mapping waits for it to come back.
  BOOL IsKernelHostLost() const { return m_bKernelHostLost; }
  // The bus side is up: the broadcast listener and the printer monitors start.
  void OnBusUp();
  // The refresh timer: server and device ageing, each list's showing run with its lock held.
  void Refresh(const std::function<void()>& showServers, const std::function<void()>& showDevices);
  // Each entry of a list, with the list's lock held (nothing while mapping is off).
  void ForEachServer(const std::function<void(ServerPresenceEntry&)>& visit);
  void ForEachDevice(const std::function<void(DeviceEntry&)>& visit);
  int GetServerCount();
  int GetDeviceCount();
  // A copy of the device entry of (address, port); FALSE when there is none.
  BOOL GetDevice(LPCSTR address, WORD port, DeviceEntry* out);

  // Services for the panes and the worker threads.
  void AddDeviceMappingLog(CString text);
  void AddServerManagerLog(CString text);
  void ClearServerDetails();
  void ShowDeviceDetails(CString strIP, WORD wPort);
  void ShowServerManagerDetails(CString strIP);
  // The status line (when there is a user interface).
  void SetStatusText(LPCSTR text);
  // A message box of the main frame; without a user interface, IDCANCEL.
  int ShowMessageBox(LPCSTR text, UINT style);
  BOOL SetProductStringState(CString strIP, WORD wPort, DWORD state);
  BOOL StoreProductString(CString strIP, WORD wPort, const zarnet::iproduct_string* productString);
  BOOL CanRemoveServer(CString strIP);
  BOOL FindServerPresence(CString strIP, ServerPresenceEntry* out);
  BOOL FindDiscoveredServer(CString strIP, ServerDiscoveryRecord* out);
  BOOL EnablePrivilege(LPCSTR name);
  // Dispatches the waiting messages of the main window, then of the calling thread.
  void PumpMessages();
  // milliseconds in steps of 100 ms, pumping messages after each step.
  void SleepPumping(DWORD milliseconds);

  // Server presence, device departure and printer monitors: the broadcast listener's side.
  // DetectServer's argument is the document; OnBusUp starts it, its thread handle is kept.
  static DWORD WINAPI DetectServer(LPVOID document);
  // Fills the printer list with the registry's auto-connect printers (at each start).
  void LoadAutoConnectPrinters();
  void StartPrinterMonitors();
  // Waits until every printer monitor has ended (they end once m_lStop is set).
  void WaitForPrinterMonitors();
  // The caller holds m_csServerPresence.
  void CheckServerArrivalRemoval();
  // The caller holds m_csDeviceList.
  void CheckDeviceDeparture();
  // 1 when the wait for the drivers' answers timed out, else 0.
  BOOL DisconnectAll(BOOL wait, BOOL devices, BOOL servers);

  // The user interface's commands (DocCommands.cpp). Whether a command of the menus, the toolbar and
  // the context menus is enabled now, by the selections of the functional pane and the mapping state.
  BOOL IsCommandEnabled(UINT id) const;
  ServerSelection GetServerSelection() const;
  // The dialogs of the Server Manager and printer commands; null until the user interface has them (their
  // commands stay disabled meanwhile).
  void SetServerDialogs(IServerDialogs* dialogs) { m_pServerDialogs = dialogs; }
  // The context menus, tracked at a screen point with the window as their commands' target. The device
  // tree's form (deviceRowForm) offers only Connect and Disconnect and nothing on a server row.
  void ShowServerManagerMenu(CWnd* owner, POINT at);
  void ShowDeviceMappingMenu(CWnd* owner, POINT at, BOOL deviceRowSelected, BOOL deviceRowForm);
  void ShowLogMenu(CWnd* owner, POINT at);
  void ShowDetailsMenu(CWnd* owner, POINT at);
  void ShowAutoConnectMenu(CWnd* owner, POINT at);
  void ShowTrayMenu(CWnd* owner, POINT at);
  // Commands 32818, 32775, 32776, 32777, 32778 and 32781.
  void OnSearchServers();
  void OnUnlock();
  void OnUpgradeFirmware();
  void OnServerConfiguration();
  void OnRestoreFactoryDefaults();
  void OnPrinterAutoConnect();
  // The answer of Restore Factory Defaults (WM_USER+11 to the functional pane).
  void OnRestoreFactoryDefaultsDone(int result);
  void ClearDeviceDetails();
  // The servers the last Unlock, Upgrade Firmware or Server Configuration was given, in list order.
  const SelectedServerList& GetSelectedServers() const { return m_SelectedServers; }
  // Sets the three pairs of view-mode flags for Server Manager (TRUE) or Device Mapping.
  void SetViewMode(BOOL serverManager);
  // The unload notice window the functional pane shows (at most one; the pane replaces and frees it, the
  // document frees the last one).
  void SetUnloadNotice(CWnd* notice);
  CWnd* GetUnloadNotice() const { return m_pUnloadNotice; }
  // The auto-connect list as the printer dialog changes it: a printer's flag, a printer removed. FALSE
  // when no entry has that name.
  BOOL SetPrinterAutoReconnect(LPCSTR printerName, DWORD autoReconnect);
  BOOL RemovePrinter(LPCSTR printerName);

  DWORD m_ViewModeFlags[6] = {};
  // The search's results; the search dialog fills it under m_csDiscoveredServers.
  ServerDiscoveryList m_DiscoveredServers;
  CRITICAL_SECTION m_csDiscoveredServers{};

  // Where the broadcast listener listens (production: INADDR_ANY, port 6000) and the servers' device-data
  // port given to the drivers; tests point them elsewhere before mapping starts.
  ULONG m_ulDeviceListAddress = INADDR_ANY;  // network order
  WORD m_wDeviceListPort = zarnet::kDeviceListPort;
  WORD m_wServerDataPort = zarnet::kDataPort;
  DWORD m_dwPrinterPollPeriod = 1000;   // ms between two looks at a monitored printer's queue
  DWORD m_dwResumeSettlePeriod = 5000;  // ms granted to late answers after the disconnect on resume

  // The power-broadcast handler's flags (interlocked).
  void SetSuspend(BOOL on) { InterlockedExchange(&m_lSuspend, on ? 1 : 0); }
  void SetResume(BOOL on) { InterlockedExchange(&m_lResume, on ? 1 : 0); }
  BOOL IsStopping() const { return __atomic_load_n(&m_lStop, __ATOMIC_SEQ_CST) != 0; }
  // The stop flag itself, for workers that poll it.
  const volatile LONG* StopFlag() const { return &m_lStop; }
  BOOL IsSuspended() const { return __atomic_load_n(&m_lSuspend, __ATOMIC_SEQ_CST) != 0; }
  BOOL IsResuming() const { return __atomic_load_n(&m_lResume, __ATOMIC_SEQ_CST) != 0; }
  BOOL IsDisconnectingAll() const { return __atomic_load_n(&m_lDisconnectAll, __ATOMIC_SEQ_CST) != 0; }
  BOOL IsBroadcastSocketOpen() {
    std::lock_guard guard(m_BroadcastSocketLock);
    return m_BroadcastSocket != INVALID_SOCKET;
  }
  // One awaited answer (of a device request, or of a server request) came while DisconnectAll waits.
  void CountAnswerOff(BOOL device);
  LONG PendingDeviceAnswers() { return InterlockedCompareExchange(&m_nPendingDeviceRsp, 0, 0); }
  LONG PendingServerAnswers() { return InterlockedCompareExchange(&m_nPendingServerRsp, 0, 0); }

  // DetectServer's loop on this document.
  DWORD ListenForDeviceLists();
  // Sets m_lStop and wakes the broadcast listener, which then closes its socket itself.
  void StopBroadcastListener();
  void UpdateServerPresence(LPCSTR address, DWORD serverId);
  // Merges the entries of one received datagram (length: the bytes received); a datagram that cannot be
  // read is dropped (FALSE).
  BOOL UpdateDeviceInfo(LPCSTR address, const BYTE* datagram, int length);
  // The listener's road: the datagram read first, then its server marked present and its devices merged;
  // a datagram that cannot be read changes nothing.
  BOOL OnDeviceListDatagram(LPCSTR address, const BYTE* datagram, int length);
  // Lookups in the device list; the caller holds m_csDeviceList.
  POSITION FindDevice(LPCSTR address, WORD port, WORD vid, WORD pid, WORD rev);
  POSITION GetDevicePosition(LPCSTR address, WORD port);
  POSITION FindDeviceByAddress(ULONG address, WORD port);  // address in network order
  static LPCSTR GetDeviceClassName(BYTE deviceClass);
  BOOL ReportAllDevicesDeparted();
  BOOL ReportAllServersDeparted();
  // Waits for the product-string fetches still running and drops those queued.
  void StopProductStringFetches();
  // Queues a plug-in (arrival TRUE) or unplug request for the device; the caller holds m_csDeviceList.
  BOOL FillAndSendReqToBusDriver(POSITION position, BOOL arrival);
  // Commands "&Connect" and "&Disconnect": act on the device selected in the functional pane.
  void OnConnectDisconnect();
  // Printer auto-connect. The monitor table and the printer list are guarded by m_PrinterLock.
  BOOL UpdatePrinterMonitorEntry(const PrinterInfo& printer);
  // UpdatePrinterMonitorEntry, and the printer listed when no monitor has its name; TRUE when listed.
  BOOL OfferAutoConnectPrinter(const PrinterInfo& printer);
  int FindFreePrinterMonitorSlot();  // the caller holds m_PrinterLock
  POSITION FindPrinterDevice(ULONG address, WORD port, WORD vid, WORD pid, WORD rev);  // holds m_csDeviceList
  BOOL IsPrinterConnected(LPCSTR printerName);
  static DWORD WINAPI PrinterMonitor(LPVOID start);

  // Copies, under the printer lock: a monitor slot, and the printer list.
  PrinterInfo GetPrinterMonitor(int slot);
  std::vector<PrinterInfo> GetPrinters();

  // The lists and their locks (the lookups above need them held).
  DeviceList m_DeviceList{10};
  ServerPresenceList m_ServerPresenceList{10};
  void SetListLimits(const ListLimits& limits) { m_Limits = limits; }
  CRITICAL_SECTION m_csDeviceList{};
  CRITICAL_SECTION m_csServerPresence{};

 protected:
  const mfc::MessageMap* GetMessageMap() const override;

 private:
  void MergeDeviceList(LPCSTR address, const zarnet::DeviceListView& list);
  // Every request still in the table counted as failed and announced to the functional pane.
  template <class Table>
  void FailUnansweredRequests(Table& table, UINT message, BOOL device);
  // The enumerator's side closed (its thread ended) until LookForKernelHost finds it again.
  void OnKernelHostLost();
  // At each refresh while the kernel host is lost; TRUE when it is back (the special server is announced
  // again, the servers are announced again as new).
  BOOL LookForKernelHost();
  int QueueServerRequest(const ServerPresenceEntry& server, BOOL arrival);  // the slot index, or -1
  BOOL SubmitProductStringFetch(const DeviceEntry& device);
  void DisconnectAllAfterResume();
  BOOL UpdatePrinterMonitorEntryLocked(const PrinterInfo& printer);
  BOOL QueuePrinterRequest(const PrinterInfo& printer, BOOL arrival, LPCSTR foundLine, BOOL* found);
  void RunPrinterMonitor(int slot);
  // A refused plug-in answer for a monitored printer: its monitor asks again at its next poll.
  void NotePrinterConnectRefused(const DEVICE_ARRIVALREMOVAL_INFO& answer);
  void RunStop(BOOL bAskUser);
  void JoinThread(HANDLE* thread);
  void OnUpdateCommandUI(CCmdUI* ui);
  // FALSE (traced) when the menu resource has no pop-up.
  BOOL TrackMenu(const ContextMenu& menu, CWnd* owner, POINT at, BOOL serverManager);
  void AddSelectedServer(const ServerListRow& row);

  IDocPanes* m_pPanes = nullptr;
  IServerDialogs* m_pServerDialogs = nullptr;
  SelectedServerList m_SelectedServers{10};
  std::unique_ptr<CServerComm> m_pRestoreComm;  // between Restore Factory Defaults and its answer
  CWnd* m_pUnloadNotice = nullptr;
  DocPauses m_Pauses;
  ListLimits m_Limits;
  bool m_bServerLimitReported = false;  // the full lists are reported once, not at every datagram
  bool m_bDeviceLimitReported = false;
  DWORD m_bMappingStarted = 0;
  volatile LONG m_lStop = 0;
  LONG m_nPendingDeviceRsp = 0;
  LONG m_nPendingServerRsp = 0;
  volatile LONG m_lSuspend = 0;
  volatile LONG m_lResume = 0;
  volatile LONG m_lDisconnectAll = 0;
  SOCKET m_BroadcastSocket = INVALID_SOCKET;
  ServerRequestTable m_ServerRequests;  // m_ArrSereverArRmInfo, m_csServerArRm and ServerArRmEvent
  DeviceRequestTable m_DeviceRequests;  // m_ArrDeviceArRmInfo, m_csDeviceArRm and m_hDeviceArRmEvent
  HANDLE AppExitEvent = nullptr;
  HANDLE CLEANUP_DONE_EVENT = nullptr;
  HANDLE BusEnumRspEvent = nullptr;
  HANDLE BusRspEvent = nullptr;
  HANDLE BusDrvrCloseEvent = nullptr;
  HANDLE BusEnumDrvrCloseEvent = nullptr;
  CBus m_objBus;
  CBusEnum m_objBusEnum;
  DWORD m_nBusInterfaceArrivals = 0;
  // Threads of a mapping run, each joined before the events and locks it uses go.
  HANDLE m_hServerNotifyThread = nullptr;
  HANDLE m_hDeviceNotifyThread = nullptr;
  std::atomic<bool> m_bServerThreadUp{false};  // the two handles above are set (user-interface thread)
  std::atomic<bool> m_bDeviceThreadUp{false};
  HANDLE m_hDetectServerThread = nullptr;

  std::mutex m_BroadcastSocketLock;  // hands m_BroadcastSocket between the listener and the stop
  std::mutex m_PresenceWorkersLock;
  std::shared_ptr<ProductStringPool> m_pProductStrings;

  BOOL m_bWinsockStarted = FALSE;
  BOOL m_bStopRunning = FALSE;       // written and read on the functional pane's thread only
  BOOL m_bLocksReady = FALSE;        // the critical sections exist (CreateEventsAndLocks .. CleanUp)
  BOOL m_bCloseAfterStop = FALSE;
  BOOL m_bKernelHostLost = FALSE;    // user-interface thread only

  std::mutex m_PrinterLock;
  std::condition_variable m_PrinterWake;  // ends a monitor's pause early when it must stop
  HANDLE m_hPrinterMonitorThreads[kPrinterMonitorSlots] = {};
  CList<PrinterInfo> m_PrinterList{10};
  PrinterInfo m_PrinterMonitors[kPrinterMonitorSlots] = {};
  bool m_PrinterConnectRefused[kPrinterMonitorSlots] = {};  // per slot, until the monitor's next poll
};
