// CTavrinAdminDoc: the one document of TavrinAdmin. It holds all state of the system: the panes to
// report to, the device and printer lists, the events and locks the worker threads share, and the
// device-mapping state. The device-mapping start and stop live in DocLifecycle.cpp.
#pragma once
#include "admin/DeviceEntry.h"
#include "admin/PrinterInfo.h"
#include "admin/ServerPresenceEntry.h"
#include "admin/bus/Bus.h"
#include "admin/bus/BusEnum.h"
#include "admin/comm/Discovery.h"
#include "zarnet/command.h"
#include "mfc/mfc.h"
#include "win32/winsock.h"
// Server presence, device list, connect and printers
#include <condition_variable>
#include <memory>
#include <mutex>

#include "zarnet/ports.h"

class ProductStringPool;

class CBottemFormView;
class CLeftTreeView;
class CDetailsFormView;
class CFunctionView;

constexpr int kPrinterMonitorSlots = 255;
constexpr int kRequestTableSlots = 260;
constexpr char kCleanUpDoneEventName[] = "TavrinAdminCleanUpDone";

class CTavrinAdminDoc : public CDocument {
  DECLARE_DYNCREATE(CTavrinAdminDoc)

 public:
  CTavrinAdminDoc();
  ~CTavrinAdminDoc() override;

  BOOL OnNewDocument() override;
  // A document closed while mapping runs stops it before its panes go.
  void OnCloseDocument() override;

  void SetBottemFormView(CBottemFormView* view) { m_pBottemFormView = view; }
  void SetLeftTreeView(CLeftTreeView* view) { m_pLeftTreeView = view; }
  void SetDetailsFormView(CDetailsFormView* view) { m_pDetailsFormView = view; }
  void SetFunctionView(CFunctionView* view) { m_pFunctionView = view; }
  CBottemFormView* GetBottemFormView() const { return m_pBottemFormView; }
  CLeftTreeView* GetLeftTreeView() const { return m_pLeftTreeView; }
  CDetailsFormView* GetDetailsFormView() const { return m_pDetailsFormView; }
  CFunctionView* GetFunctionView() const { return m_pFunctionView; }

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

  // The driver notification threads (DocNotify.cpp).
  BOOL InitBusEnumDriver();
  BOOL InitBusDriver();
  // Ends the device thread (its close event) and waits for it; before the control device link is closed.
  void StopBusDriverThread();
  static DWORD WINAPI NotifyServerArRmToDriver(LPVOID document);
  static DWORD WINAPI NotifyDeviceArRmToDriver(LPVOID document);

  // Services for the panes and the worker threads.
  void AddDeviceMappingLog(CString text);
  void AddServerManagerLog(CString text);
  void ClearServerDetails();
  void ShowDeviceDetails(CString strIP, WORD wPort);
  void ShowServerManagerDetails(CString strIP);
  BOOL SetProductStringState(CString strIP, WORD wPort, DWORD state);
  BOOL StoreProductString(CString strIP, WORD wPort, const zarnet::iproduct_string* productString);
  BOOL CanRemoveServer(CString strIP);
  BOOL FindServerPresence(CString strIP, ServerPresenceEntry* out);
  BOOL FindDiscoveredServer(CString strIP, ServerDiscoveryRecord* out);
  BOOL EnablePrivilege(LPCSTR name);
  // Dispatches the waiting messages of the main window, then of the calling thread.
  void PumpMessages();
  // seconds x 1000 ms in steps of 100 ms, pumping messages after each step.
  void SleepPumping(int seconds);

  // Server presence, device departure and printer monitors: the broadcast listener's side.
  // DetectServer's argument is the functional pane; its thread handle is kept in m_hDetectServerThread.
  static DWORD WINAPI DetectServer(LPVOID functionView);
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

  CBottemFormView* m_pBottemFormView = nullptr;
  CLeftTreeView* m_pLeftTreeView = nullptr;
  CDetailsFormView* m_pDetailsFormView = nullptr;
  CFunctionView* m_pFunctionView = nullptr;
  DWORD m_bMappingStarted = 0;
  ServerDiscoveryList m_DiscoveredServers;
  DWORD m_ViewModeFlags[6] = {};
  volatile LONG m_lStop = 0;
  LONG m_nPendingDeviceRsp = 0;
  LONG m_nPendingServerRsp = 0;
  volatile LONG m_lSuspend = 0;
  volatile LONG m_lResume = 0;
  volatile LONG m_lDisconnectAll = 0;
  SOCKET m_BroadcastSocket = INVALID_SOCKET;
  CList<DeviceEntry> m_DeviceList{10};
  CList<ServerPresenceEntry> m_ServerPresenceList{10};
  SERVER_ARRIVALREMOVAL_INFO m_ArrSereverArRmInfo[kRequestTableSlots] = {};
  DEVICE_ARRIVALREMOVAL_INFO m_ArrDeviceArRmInfo[kRequestTableSlots] = {};
  CList<PrinterInfo> m_PrinterList{10};
  PrinterInfo m_PrinterMonitors[kPrinterMonitorSlots] = {};
  HANDLE AppExitEvent = nullptr;
  HANDLE CLEANUP_DONE_EVENT = nullptr;
  HANDLE ServerArRmEvent = nullptr;
  HANDLE BusEnumRspEvent = nullptr;
  HANDLE BusRspEvent = nullptr;
  HANDLE m_hDeviceArRmEvent = nullptr;
  HANDLE BusDrvrCloseEvent = nullptr;
  HANDLE BusEnumDrvrCloseEvent = nullptr;
  CRITICAL_SECTION m_csDeviceList{};
  CRITICAL_SECTION m_csServerPresence{};
  CRITICAL_SECTION m_csServerArRm{};
  CRITICAL_SECTION m_csDeviceArRm{};
  CBus m_objBus;
  CBusEnum m_objBusEnum;
  DWORD m_nBusInterfaceArrivals = 0;
  // (selected servers: list of 89-byte records, with the user interface)
  CWnd* m_pUnloadFailureNotice = nullptr;
  // Threads of a mapping run, each joined before the events and locks it uses go.
  HANDLE m_hServerNotifyThread = nullptr;
  HANDLE m_hDeviceNotifyThread = nullptr;
  HANDLE m_hDetectServerThread = nullptr;

  // Server presence, device list, connect and printers
  // Where the broadcast listener listens (production: INADDR_ANY, port 6000) and the servers' device-data
  // port given to the drivers; tests point them elsewhere before mapping starts.
  ULONG m_ulDeviceListAddress = INADDR_ANY;  // network order
  WORD m_wDeviceListPort = zarnet::kDeviceListPort;
  WORD m_wServerDataPort = zarnet::kDataPort;
  DWORD m_dwPrinterPollPeriod = 1000;   // ms between two looks at a monitored printer's queue
  DWORD m_dwResumeSettlePeriod = 5000;  // ms granted to late answers after the disconnect on resume

  // DetectServer's loop on this document.
  DWORD ListenForDeviceLists();
  // Sets m_lStop and wakes the broadcast listener, which then closes its socket itself.
  void StopBroadcastListener();
  void UpdateServerPresence(LPCSTR address, DWORD serverId);
  // Merges the entries of one received datagram (length: the bytes received).
  void UpdateDeviceInfo(LPCSTR address, const BYTE* datagram, int length);
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

  std::mutex m_PrinterLock;
  std::condition_variable m_PrinterWake;  // ends a monitor's pause early when it must stop
  HANDLE m_hPrinterMonitorThreads[kPrinterMonitorSlots] = {};

 private:
  int QueueServerRequest(const ServerPresenceEntry& server, BOOL arrival);  // the slot index, or -1
  int FillServerSlot(const ServerPresenceEntry& server, BOOL arrival);
  BOOL SubmitProductStringFetch(const DeviceEntry& device);
  void DisconnectAllAfterResume();
  BOOL UpdatePrinterMonitorEntryLocked(const PrinterInfo& printer);
  BOOL QueuePrinterRequest(const PrinterInfo& printer, BOOL arrival, LPCSTR foundLine, BOOL* found);
  void RunPrinterMonitor(int slot);

  std::mutex m_BroadcastSocketLock;  // hands m_BroadcastSocket between the listener and the stop
  std::mutex m_PresenceWorkersLock;
  std::shared_ptr<ProductStringPool> m_pProductStrings;
  // End of server presence, device list, connect and printers

 protected:
  const mfc::MessageMap* GetMessageMap() const override;
  // Command 32867: the stop that asks the user first.
  void OnStopDeviceMapping();

 private:
  BOOL m_bWinsockStarted = FALSE;
  BOOL m_bStopRunning = FALSE;       // written and read on the functional pane's thread only
  BOOL m_bLocksReady = FALSE;        // the critical sections exist (CreateEventsAndLocks .. CleanUp)
  BOOL m_bCloseAfterStop = FALSE;
  void RunStop(BOOL bAskUser);
  void JoinThread(HANDLE* thread);
};
