// CMainFrame: the main window of TavrinAdmin. It lives hidden behind its notification-area icon; it
// shows the status text, asks the user through message boxes over itself, and closes the program on
// the exit monitor's message. It holds the panes: the functional pane, the log pane and the details pane.
#pragma once
#include <mutex>

#include "admin/DocPanes.h"
#include "admin/menus/NewFrameWnd.h"
#include "mfc/mfc.h"

class CBottemFormView;
class CDetailsFormView;
class CFunctionView;
class CTavrinAdminDoc;

// The frame reports for the document (IDocPanes) from the creation of its panes until it is destroyed.
class CMainFrame : public CNewFrameWnd, public IDocPanes {
  DECLARE_DYNCREATE(CMainFrame)

 public:
  void SetStatusText(LPCSTR text) override;
  CString GetStatusText() const;
  int ShowMessageBox(LPCSTR text, UINT style, UINT helpContext);
  int ShowMessageBox(LPCSTR text, UINT style) override { return ShowMessageBox(text, style, 0); }

  CFunctionView* GetFunctionView() const { return m_pFunctionView; }
  CBottemFormView* GetBottemFormView() const { return m_pBottemFormView; }
  CDetailsFormView* GetDetailsFormView() const { return m_pDetailsFormView; }
  // The menu bar and the two function popups that stood at its positions 2 and 3; the bar shows one of
  // them at position 2.
  CNewMenu* GetMainMenu() const { return m_pMainMenu; }
  CNewMenu* GetServerManagerPopup() const { return m_pServerManagerPopup; }
  CNewMenu* GetDeviceMappingPopup() const { return m_pDeviceMappingPopup; }

  // IDocPanes
  HWND GetMainWindow() const override { return m_hWnd; }
  void AddDeviceMappingLog(LPCSTR text) override;
  void AddServerManagerLog(LPCSTR text) override;
  void ShowDeviceDetails(LPCSTR serverIp, WORD port) override;
  void ClearDeviceDetails() override;
  void ShowServerManagerDetails(LPCSTR serverIp) override;
  void ClearServerDetails() override;
  HWND GetFunctionWindow() const override;
  void DeleteServerItem(LPCSTR serverIp) override;
  void DeleteDeviceItem(const DeviceEntry& device) override;
  void DeleteAllTreeItems() override;
  BOOL GetSelectedDevice(CString* serverIp, WORD* port, CString* state) override;
  void MarkSelectedDevice(BOOL requestQueued, BOOL connecting) override;
  void KillMappingTimers() override;
  BOOL OpenWaitWindow(LPCSTR text, int kind) override;
  void CloseWaitWindow() override;
  std::vector<ServerListRow> GetSelectedServerRows() override;
  void SetServerRowText(int row, int column, LPCSTR text) override;
  void ShowSearchResults(const ServerDiscoveryList& servers) override;
  BOOL TrackContextMenu(const ContextMenu& menu, HWND owner, POINT at) override;

 protected:
  const mfc::MessageMap* GetMessageMap() const override;
  int OnCreate(LPCREATESTRUCT createStruct) override;
  BOOL OnCreateClient(LPCREATESTRUCT createStruct, CCreateContext* context) override;
  void OnDestroy() override;
  void OnClose() override;
  // The panes side by side (navigation, functional, details) over the log pane.
  void RecalcLayout() override;

 private:
  LRESULT OnCloseProgram(WPARAM, LPARAM);
  LRESULT OnTrayNotify(WPARAM, LPARAM);
  void OnStartDeviceMapping();
  void OnStopDeviceMapping();
  void OnConnectDisconnect();
  void OnPrinterAutoConnect();
  void OnSearchServers();
  void OnUnlock();
  void OnUpgradeFirmware();
  void OnServerConfiguration();
  void OnRestoreFactoryDefaults();

  mutable std::mutex m_statusMutex;
  CString m_strStatusText;
  CTavrinAdminDoc* m_pDocument = nullptr;  // the document this frame reports for
  CFunctionView* m_pFunctionView = nullptr;
  CBottemFormView* m_pBottemFormView = nullptr;
  CDetailsFormView* m_pDetailsFormView = nullptr;
  CNewMenu* m_pMainMenu = nullptr;
  CNewMenu* m_pServerManagerPopup = nullptr;
  CNewMenu* m_pDeviceMappingPopup = nullptr;
};

// The menu icons: bitmap 130 of 20 x 20 icons on RGB(192, 192, 192), the commands in bitmap order.
extern const WORD kMainMenuIcons[];

// The main frame of the program, or null before it is made.
CMainFrame* GetAdminMainFrame();

// The user interface the application object builds its document template with.
IAdminShell* GetAdminUiShell();
