#include "admin/ui/DetailsFormView.h"

#include <cstring>

#include "admin/TavrinAdminDoc.h"

IMPLEMENT_DYNCREATE(CDetailsFormView, CView)

void CDetailsFormView::OnDestroy() {
  CView::OnDestroy();
}

void CDetailsFormView::OnInitialUpdate() {
  CView::OnInitialUpdate();
}

void CDetailsFormView::ShowDeviceDetails(LPCSTR serverIp, WORD port) {
  std::vector<CString> rows;
  CString row;
  row.Format("IP Address: %s", serverIp);
  rows.push_back(row);
  row.Format("USB Port: %d", port);
  rows.push_back(row);
  auto* doc = static_cast<CTavrinAdminDoc*>(GetDocument());
  bool found = false;
  if (doc) {
    doc->ForEachDevice([&](const DeviceEntry& device) {
      if (found || device.PortNum != port || std::strncmp(device.ServerIp, serverIp, sizeof device.ServerIp) != 0)
        return;
      found = true;
      row.Format("Vendor ID: 0x%04X", device.Vid);
      rows.push_back(row);
      row.Format("Product ID: 0x%04X", device.Pid);
      rows.push_back(row);
      if (device.ProductString) {
        row.Format("Product: %s", device.ProductString);
        rows.push_back(row);
      }
    });
  }
  std::lock_guard hold(m_lock);
  m_DeviceDetails = std::move(rows);
}

void CDetailsFormView::ClearDeviceDetails() {
  std::lock_guard hold(m_lock);
  m_DeviceDetails.clear();
}

void CDetailsFormView::ShowServerManagerDetails(LPCSTR serverIp) {
  std::lock_guard hold(m_lock);
  m_ServerDetails.assign({CString("IP Address: ") + serverIp, "Please Wait..."});
  m_ConnectedClients.clear();
}

void CDetailsFormView::ClearServerDetails() {
  std::lock_guard hold(m_lock);
  m_ServerDetails.clear();
  m_ConnectedClients.clear();
}

std::vector<CString> CDetailsFormView::GetDeviceDetails() const {
  std::lock_guard hold(m_lock);
  return m_DeviceDetails;
}

std::vector<CString> CDetailsFormView::GetServerDetails() const {
  std::lock_guard hold(m_lock);
  return m_ServerDetails;
}
