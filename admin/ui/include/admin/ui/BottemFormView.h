// CBottemFormView: the log pane with its two lists, "Device Mapping Log" and "Server Manager Log". Each row
// has a serial number (row count + 1), the time it was added and the text. Any thread may add rows.
#pragma once
#include <mutex>
#include <vector>

#include "mfc/mfc.h"

struct LogRow {
  int Serial;
  CString Time;
  CString Text;
};

class CBottemFormView : public CView {
  DECLARE_DYNCREATE(CBottemFormView)

 public:
  void OnInitialUpdate() override;
  void OnDraw(CDC*) override {}

 protected:
  void OnDestroy() override;

 public:

  // Time as "%d-%m-%Y : %H:%M:%S".
  void AddDeviceMappingLog(LPCSTR text);
  // Time as "%d-%m-%Y,  %H:%M:%S".
  void AddServerManagerLog(LPCSTR text);
  std::vector<LogRow> GetDeviceMappingLog() const;
  std::vector<LogRow> GetServerManagerLog() const;

 private:
  mutable std::mutex m_lock;
  std::vector<LogRow> m_DeviceMappingLog;
  std::vector<LogRow> m_ServerManagerLog;
};
