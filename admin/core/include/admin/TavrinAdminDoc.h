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
#include "mfc/mfc.h"
#include "win32/winsock.h"

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

  void SetBottemFormView(CBottemFormView* view) { m_pBottemFormView = view; }
  void SetLeftTreeView(CLeftTreeView* view) { m_pLeftTreeView = view; }
  void SetDetailsFormView(CDetailsFormView* view) { m_pDetailsFormView = view; }
  void SetFunctionView(CFunctionView* view) { m_pFunctionView = view; }
  CBottemFormView* GetBottemFormView() const { return m_pBottemFormView; }
  CLeftTreeView* GetLeftTreeView() const { return m_pLeftTreeView; }
  CDetailsFormView* GetDetailsFormView() const { return m_pDetailsFormView; }
  CFunctionView* GetFunctionView() const { return m_pFunctionView; }

  DWORD IsDeviceMappingStarted() const { return m_bMappingStarted; }
  // Command "St&op Device Mapping" (askUser TRUE) and the shut-down road of the exit monitor (FALSE).
  void StopDeviceMapping(BOOL bAskUser);

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

 private:
  BOOL m_bWinsockStarted = FALSE;
};
