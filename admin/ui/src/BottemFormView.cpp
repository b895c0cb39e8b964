#include "admin/ui/BottemFormView.h"

#include <ctime>

#include "admin/TavrinAdminDoc.h"

IMPLEMENT_DYNCREATE(CBottemFormView, CView)

void CBottemFormView::OnDestroy() {
  CView::OnDestroy();
}

namespace {

CString Now(const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[64] = {};
  std::strftime(text, sizeof text, format, &local);
  return text;
}

void AddRow(std::vector<LogRow>& rows, const char* timeFormat, LPCSTR text) {
  rows.push_back({static_cast<int>(rows.size()) + 1, Now(timeFormat), text});
}

}  // namespace

void CBottemFormView::OnInitialUpdate() {
  CView::OnInitialUpdate();
}

void CBottemFormView::AddDeviceMappingLog(LPCSTR text) {
  std::lock_guard hold(m_lock);
  AddRow(m_DeviceMappingLog, "%d-%m-%Y : %H:%M:%S", text);
}

void CBottemFormView::AddServerManagerLog(LPCSTR text) {
  std::lock_guard hold(m_lock);
  AddRow(m_ServerManagerLog, "%d-%m-%Y,  %H:%M:%S", text);
}

std::vector<LogRow> CBottemFormView::GetDeviceMappingLog() const {
  std::lock_guard hold(m_lock);
  return m_DeviceMappingLog;
}

std::vector<LogRow> CBottemFormView::GetServerManagerLog() const {
  std::lock_guard hold(m_lock);
  return m_ServerManagerLog;
}
