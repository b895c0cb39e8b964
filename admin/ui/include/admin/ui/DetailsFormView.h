// CDetailsFormView: the details pane: "Device Details" of the selected device, and "Server Details" with
// "Connected Clients (IP : USB Port)" of the selected server. Rows are "name: value" texts.
#pragma once
#include <mutex>
#include <vector>

#include "mfc/mfc.h"

class CTavrinAdminDoc;

class CDetailsFormView : public CView {
  DECLARE_DYNCREATE(CDetailsFormView)

 public:
  void OnInitialUpdate() override;
  void OnDraw(CDC*) override {}

 protected:
  void OnDestroy() override;

 public:

  // Fills the device list for the device of that server and port (from the document's device list).
  void ShowDeviceDetails(LPCSTR serverIp, WORD port);
  void ClearDeviceDetails();
  // Shows "Please Wait..." for the server whose configuration is asked for.
  void ShowServerManagerDetails(LPCSTR serverIp);
  void ClearServerDetails();
  std::vector<CString> GetDeviceDetails() const;
  std::vector<CString> GetServerDetails() const;

 private:
  mutable std::mutex m_lock;
  std::vector<CString> m_DeviceDetails;
  std::vector<CString> m_ServerDetails;
  std::vector<CString> m_ConnectedClients;
};
