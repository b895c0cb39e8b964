// CFunctionView: the functional pane (form 133). In Device Mapping mode it shows the device tree (a row per
// server heard on the network, its USB devices under it, each with its state); in Server Manager mode the
// server list of the last search. Its window hears the worker threads' answers (WM_USER+2, +3, +4, +11,
// +15) and the bus driver's arrival and removal (WM_DEVICECHANGE), and it runs the refresh timer.
#pragma once
#include <string>
#include <unordered_map>
#include <vector>

#include "admin/DeviceEntry.h"
#include "admin/DocPanes.h"
#include "admin/comm/Discovery.h"
#include "controls/small_widgets.h"
#include "controls/tree_ctrl.h"
#include "mfc/dialog.h"
#include "mfc/imagelist.h"

class CTavrinAdminDoc;

// Timers of the functional pane.
constexpr UINT_PTR kBusUpTimer = 1;         // one shot: the bus side is up (broadcast listener, monitors)
constexpr UINT_PTR kStartMappingTimer = 2;  // one shot: starts device mapping
constexpr UINT_PTR kRefreshTimer = 3;       // every AppGuiRefreshPeriod ms while mapping runs

// Columns of the device tree and of the server list.
enum TreeColumn { TREE_COL_INFO, TREE_COL_PORT, TREE_COL_CLASS, TREE_COL_STATUS };
enum ServerListColumn {
  SERVER_COL_NUMBER,
  SERVER_COL_MODEL,
  SERVER_COL_MAC,
  SERVER_COL_IP = kServerListIpColumn,
  SERVER_COL_STATUS = kServerListStatusColumn,
};

// Pictures of bitmap 138, 16 pixels each.
enum TreeImage { TREE_IMAGE_SERVER, TREE_IMAGE_FREE, TREE_IMAGE_CHANGING, TREE_IMAGE_BUSY };

// A copy of the tree as shown (for the document's tests and the benchmarks).
struct TreeDeviceItem {
  CString Name;       // column 0
  CString Port;       // column 1: the USB port as "%d", the row's key under its server
  CString ClassName;  // column 2
  CString State;      // column 3
  int Image = TREE_IMAGE_FREE;
  COLORREF StateColor = 0;
  LPARAM BusyRefreshes = 0;  // refreshes that found the device busy after its disconnect
};
struct TreeServerItem {
  CString Text;  // "<ip> ( <state> )"
  std::vector<TreeDeviceItem> Devices;
};

class CFunctionView : public CFormView {
  DECLARE_DYNCREATE(CFunctionView)

 public:
  CFunctionView();
  ~CFunctionView() override;
  CTavrinAdminDoc* GetDocument() const;
  // The context menus' commands (owner: this view) go on to the document as the navigation pane's do.
  BOOL OnCmdMsg(UINT id) override;
  BOOL HasCommandHandler(UINT id) override;
  void OnInitialUpdate() override;
  void OnUpdate(CView* sender, LPARAM hint, CObject* hintObject) override;

  // The device tree (FunctionViewTree.cpp). RefreshServerList runs with the document's m_csServerPresence
  // held, RefreshDeviceTree with its m_csDeviceList held.
  void RefreshServerList();
  void RefreshDeviceTree();
  void DeleteDeviceItem(const DeviceEntry& device);
  void DeleteServerItem(LPCSTR serverIp);
  void DeleteAllTreeItems();
  // The address of a server row: its text before "(", trimmed.
  BOOL GetServerIPFromItem(HTREEITEM item, CString& serverIp) const;
  BOOL IsServerItem(HTREEITEM item) const;
  // TRUE unless the first selected tree row is a server row.
  BOOL IsDeviceItemSelected() const;
  // The device row selected in the tree: its server's address, its port and its state text.
  BOOL GetSelectedDevice(CString* serverIp, WORD* port, CString* state);
  void MarkSelectedDevice(BOOL requestQueued, BOOL connecting);
  // The notice of a disconnect that never got its answer; a newer notice replaces the one shown.
  void ShowUnloadFailureNotice(const CString& text);
  // The notices a device refresh found due (it runs with the device list locked).
  void ShowPendingNotices();
  // Shows the selected tree row in the details pane (a server, a device, or nothing).
  void RefreshDetails();
  std::vector<TreeServerItem> GetDeviceTree() const;
  // The row of that server (port 0) or of its device on that USB port; null when there is none.
  HTREEITEM FindTreeRow(LPCSTR serverIp, WORD port) const;

  // The server list (FunctionViewServers.cpp), the servers the last search found: columns "S.No.",
  // "Model", "MAC Address", "IP Address", "Status".
  void ShowSearchResults(const ServerDiscoveryList& servers);
  BOOL IsSelectedServerUnlocked() const;
  int GetSelectedServerCount() const;
  // The selected rows in list order.
  std::vector<ServerListRow> GetSelectedServerRows() const;
  void SetServerRowText(int row, int column, LPCSTR text);

  CUiFontSet m_fonts;
  CImageList m_imageList;
  COXTreeCtrl m_treeDevices;
  CHeaderListCtrl m_lstServers;
  int m_nSizeToggle = 1;

 protected:
  const mfc::MessageMap* GetMessageMap() const override;
  void DoDataExchange(CDataExchange* dx) override;
  void OnTimer(UINT_PTR id) override;
  void OnSize(UINT type, int cx, int cy) override;
  void OnPaint() override;

 private:
  LRESULT OnUpdateServerListStatus(WPARAM requestId, LPARAM);
  LRESULT OnDeviceArRmResponse(WPARAM requestId, LPARAM);
  LRESULT OnDeviceChange(WPARAM event, LPARAM broadcast);
  LRESULT OnStatusTextId(WPARAM stringId, LPARAM);
  LRESULT OnRestoreDefaultsDone(WPARAM result, LPARAM);
  LRESULT OnRunStopDeviceMapping(WPARAM askUser, LPARAM);
  LRESULT OnNotify(WPARAM, LPARAM notify);
  void SetUpServerList();
  void SetUpDeviceTree();
  void OnServerListClick();
  void OnServerListDoubleClick();
  HTREEITEM FindServerRow(const CString& serverIp) const;
  HTREEITEM FindDeviceRow(HTREEITEM serverRow, const CString& port) const;
  HTREEITEM AddServerRow(const CString& serverIp, const CString& text);
  int FirstSelectedServer() const;

  // The server rows by address; kept beside the tree so that a refresh finds a row without a walk.
  std::unordered_map<std::string, HTREEITEM> m_serverRows;
  std::vector<CString> m_pendingNotices;
};
