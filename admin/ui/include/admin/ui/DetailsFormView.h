// CDetailsFormView: the details pane (form 152). In Device Mapping mode it shows the details of the server or
// USB device selected in the device tree; in Server Manager mode the configuration of the selected server and
// the computers connected to it. A server's details are fetched behind the wait window and kept in two
// caches, so that selecting it again shows them at once; "&Refresh" fetches them anew.
#pragma once
#include <vector>

#include "admin/comm/ConfRecords.h"
#include "controls/small_widgets.h"
#include "mfc/dialog.h"

class CServerComm;
class CTavrinAdminDoc;
class CUIThread;

constexpr UINT WM_CONFIG_INFO_REPLY = WM_USER + 13;        // wParam: GetConfigInfo's result
constexpr UINT WM_CONNECTED_CLIENTS_REPLY = WM_USER + 14;  // wParam: GetConnectedClientDetails's result

// The rows of a server's configuration, and of its connected computers, as the pane lists them.
std::vector<CString> ServerDetailsRows(const TavrinConfInfo& config);
std::vector<CString> ConnectedClientsRows(const ConnectedClientsInfo& clients);

class CDetailsFormView : public CFormView {
  DECLARE_DYNCREATE(CDetailsFormView)

 public:
  CDetailsFormView();
  ~CDetailsFormView() override;

  void OnInitialUpdate() override;
  void OnUpdate(CView* sender, LPARAM hint, CObject* hintObject) override;
  CTavrinAdminDoc* GetDocument() const;

  // The server (wPort 0) or the device on USB port wPort of server strIP.
  void ShowDeviceDetails(LPCSTR strIP, WORD wPort);
  void ClearDeviceDetails();
  // The configuration and connected clients of server strIP, from the caches or fetched. Refused while a
  // fetch (or another operation's wait window) is under way.
  void ShowServerManagerDetails(LPCSTR strIP);
  void ClearServerDetails();
  void ClearClientsCache();
  void ClearConfigCache();
  // "&Refresh" of the list the context menu was opened on (m_nRefreshTarget: 1 Server Details, 0 Connected
  // Clients), for the server selected in the functional pane's list.
  void OnRefresh();
  BOOL IsFetching() const { return m_pServerComm != nullptr; }

  // The rows shown.
  std::vector<CString> GetDeviceDetails() const;
  std::vector<CString> GetServerDetails() const;
  std::vector<CString> GetConnectedClients() const;

  int m_nSizeToggle = 1;
  DWORD m_nRefreshTarget = 0;
  DWORD m_bConfigOnly = 0;
  CString m_strServerIP;
  CServerComm* m_pServerComm = nullptr;
  CUiFontSet m_fonts;
  CHeaderListCtrl m_lstServerDetails;
  CHeaderListCtrl m_lstDeviceDetails;
  CHeaderListCtrl m_lstConnectedClients;

  // Each cache entry is kept under the address it was fetched for (a server may report another address).
  struct ConfigCacheEntry {
    CString ServerIp;
    TavrinConfInfo Config;
  };
  struct ClientsCacheEntry {
    CString ServerIp;
    ConnectedClientsInfo Clients;  // owns its chain
  };
  std::vector<ConfigCacheEntry> m_lstConfigCache;
  std::vector<ClientsCacheEntry> m_lstClientsCache;

 protected:
  const mfc::MessageMap* GetMessageMap() const override;
  void DoDataExchange(CDataExchange* dx) override;
  void OnSize(UINT type, int cx, int cy) override;
  void OnPaint() override;

 private:
  LRESULT OnConfigInfoReply(WPARAM result, LPARAM);
  LRESULT OnConnectedClientsReply(WPARAM result, LPARAM);
  LRESULT OnNotify(WPARAM, LPARAM notify);
  // Starts a fetch: the command client and the wait window; FALSE (nothing started) while one is running.
  BOOL BeginFetch();
  void EndFetch();
  void RequestConfig(LPCSTR failureFormat);
  void RequestClients(LPCSTR failureFormat);
  void ShowRows(CHeaderListCtrl& list, const std::vector<CString>& rows);
  void SetHeading(CHeaderListCtrl& list, LPCSTR heading);
  const ConfigCacheEntry* FindConfig(const CString& ip) const;
  const ClientsCacheEntry* FindClients(const CString& ip) const;
  void RemoveClients(const CString& ip);
  std::vector<CString> ReadRows(const CHeaderListCtrl& list) const;

  CUIThread* m_pWaitThread = nullptr;  // the wait window this pane opened, while its fetch runs
};
