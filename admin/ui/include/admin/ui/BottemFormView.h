// CBottemFormView: the log pane (form 132): the "Device Mapping Log" and "Server Manager Log" lists behind
// two tabs. Each row holds its number (row count + 1), the time it was added and the text; a right click
// offers "&Clear" and "&Save to File".
#pragma once
#include <mutex>
#include <vector>

#include "controls/colored_tabs.h"
#include "controls/small_widgets.h"
#include "mfc/dialog.h"

struct LogRow {
  int Serial;
  CString Time;
  CString Text;
};

// The log lists' time formats.
constexpr char kDeviceMappingLogTime[] = "%d-%m-%Y : %H:%M:%S";
constexpr char kServerManagerLogTime[] = "%d-%m-%Y,  %H:%M:%S";

// One row as Save to File writes it: the three columns joined by TABs, every comma taken out.
CString FormatSavedLogLine(const CString& serial, const CString& time, const CString& text);

class CBottemFormView : public CFormView {
  DECLARE_DYNCREATE(CBottemFormView)

 public:
  CBottemFormView();
  ~CBottemFormView() override;

  void OnInitialUpdate() override;
  void OnUpdate(CView* sender, LPARAM hint, CObject* hintObject) override;

  // Append a row. Any thread: a row from another thread is stamped now and shown by the pane's thread.
  void AddDeviceMappingLog(LPCSTR strDescription);
  void AddServerManagerLog(LPCSTR strDescription);
  // The rows shown (the pane's thread).
  std::vector<LogRow> GetDeviceMappingLog();
  std::vector<LogRow> GetServerManagerLog();
  // The list of the selected tab: 0 Device Mapping Log, 1 Server Manager Log.
  int GetSelectedLog() const;

  // Commands of the log menu.
  void OnClear();
  void OnSaveToFile();
  // Writes the rows of the list of the selected tab to the path (created or truncated); FALSE when the
  // file cannot be opened.
  BOOL SaveSelectedLog(const CString& path);

  CUiFontSet m_fonts;
  CHeaderListCtrl m_lstServerManagerLog;
  CHeaderListCtrl m_lstDeviceMappingLog;
  CColoredTabCtrl m_tabLogs;
  int m_nSizeToggle = 1;

 protected:
  const mfc::MessageMap* GetMessageMap() const override;
  void DoDataExchange(CDataExchange* dx) override;
  void OnSize(UINT type, int cx, int cy) override;
  void OnPaint() override;

 private:
  struct PendingRow {
    bool deviceMapping;
    CString time;
    CString text;
  };
  // A row stamped now, added at once on the pane's thread, else handed to it.
  void AddLog(bool deviceMapping, LPCSTR text);
  void AddRow(bool deviceMapping, const CString& time, const CString& text);
  void FlushPendingRows();
  LRESULT OnFlushPendingRows(WPARAM, LPARAM);
  LRESULT OnNotify(WPARAM, LPARAM notify);
  void ShowLog(int tab);
  std::vector<LogRow> ReadRows(CHeaderListCtrl& list);
  CHeaderListCtrl& SelectedList();

  std::mutex m_pendingLock;
  std::vector<PendingRow> m_pendingRows;
};
