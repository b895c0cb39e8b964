// CFunctionView: the functional pane. It shows the device tree (servers and their USB devices), hears
// the drivers' answers that the notification threads announce, brings the bus side up when the bus
// driver's control device arrives, and runs the refresh timer of device mapping.
#pragma once
#include <string>
#include <unordered_map>
#include <vector>

#include "admin/DeviceEntry.h"
#include "admin/DocPanes.h"
#include "mfc/mfc.h"

class CTavrinAdminDoc;

// Messages of the functional pane.
// Timers of the functional pane.
constexpr UINT_PTR kBusUpTimer = 1;         // one shot, the document's bus-up delay after the bus driver was opened
constexpr UINT_PTR kStartMappingTimer = 2;  // one shot: starts device mapping
constexpr UINT_PTR kRefreshTimer = 3;       // every AppGuiRefreshPeriod ms while mapping runs

// The device tree: a row per server with a row per device under it.
struct TreeDeviceItem {
  CString Name;       // column 0
  CString Port;       // column 1: the USB port as "%d", the row's key under its server
  CString ClassName;  // column 2
  CString State;      // column 3
  int Image = 1;                 // the row's picture: 1 free, 2 in use or changing, 3 busy
  COLORREF StateColor = 0x7FDC7F;  // colour of column 3
  int StateFont = 0;             // font of column 3 (font-set number; 0 the tree's own)
  int BusyRefreshes = 0;         // refreshes that found the device busy after its disconnect
};
struct TreeServerItem {
  CString Text;  // "<ip> ( <state> )"
  std::vector<TreeDeviceItem> Devices;
};

class CFunctionView : public CView {
  DECLARE_DYNCREATE(CFunctionView)

 public:
  CTavrinAdminDoc* GetDocument() const;
  void OnInitialUpdate() override;
  void OnDraw(CDC*) override {}

  // The device tree (FunctionViewTree.cpp). The caller holds the document's m_csDeviceList.
  void RefreshDeviceTree();
  void DeleteDeviceItem(const DeviceEntry& device);
  void DeleteServerItem(LPCSTR serverIp);
  // The server rows. The caller holds the document's m_csServerPresence.
  void RefreshServerList();
  // The server address of a server row: its text up to the blank before "(".
  BOOL GetServerIPFromItem(const TreeServerItem* item, CString& serverIp) const;
  // The index of each server row by its address.
  std::unordered_map<std::string, size_t> ServerRowsByIp() const;
  void DeleteAllTreeItems() { m_DeviceTree.clear(); }
  // The device selected in the tree (see IDocPanes).
  BOOL GetSelectedDevice(CString* serverIp, WORD* port, CString* state);
  void MarkSelectedDevice(BOOL requestQueued, BOOL connecting);

  // The server list (the Server Manager view): the found servers' rows, columns "S.No.", "Model",
  // "MAC Address", "IP Address", "Status".
  std::vector<ServerListRow> GetSelectedServerRows() const;
  void SetServerRowText(int row, int column, LPCSTR text);
  void ShowSearchResults(const ServerDiscoveryList& servers);
  struct ServerRow {
    CString Cells[5];
    bool Selected = false;
  };
  std::vector<ServerRow> m_ServerList;

  std::vector<TreeServerItem> m_DeviceTree;
  // The selected row: a server row (device -1) or one of its device rows; server -1 when none.
  int m_nSelectedServer = -1;
  int m_nSelectedDevice = -1;

 protected:
  const mfc::MessageMap* GetMessageMap() const override;
  void OnTimer(UINT_PTR id) override;

 private:
  LRESULT OnUpdateServerListStatus(WPARAM requestId, LPARAM);
  LRESULT OnDeviceArRmResponse(WPARAM requestId, LPARAM);
  LRESULT OnDeviceChange(WPARAM event, LPARAM broadcast);
  LRESULT OnStatusTextId(WPARAM stringId, LPARAM);
  LRESULT OnRunStopDeviceMapping(WPARAM askUser, LPARAM);
  LRESULT OnRestoreDefaultsDone(WPARAM result, LPARAM);
  // confirmation: the special server's WM_USER+15, which carries no interface record.
};
