// Dialogs and the standard controls they hold: CDialog (modal and modeless, from a template resource or
// one in memory) with dialog data exchange (UpdateData, DoDataExchange, DDX_/DDV_), CFormView (a view
// made from a child dialog template), CEdit, CComboBox, CListBox, CScrollBar, and CStringList.
#pragma once
#include "mfc/collections.h"
#include "mfc/wnd.h"
#include "win32/controls.h"
#include "win32/dialog.h"

class CDialog;

// One exchange between a window's members and its controls. Fail() (after the user was told) leaves
// the focus on the control last prepared and ends the exchange: UpdateData returns FALSE.
class CDataExchange {
 public:
  CDataExchange(CWnd* dialog, BOOL saveAndValidate) : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}
  BOOL m_bSaveAndValidate;
  CWnd* m_pDlgWnd;
  HWND PrepareCtrl(int id);
  HWND PrepareEditCtrl(int id);
  [[noreturn]] void Fail();
  // The control prepared last, and whether it is an edit (DDV_ checks apply to it).
  HWND m_hWndLastControl = nullptr;
  BOOL m_bEditLastControl = FALSE;
};

void DDX_Text(CDataExchange* dx, int id, CString& value);
void DDX_Text(CDataExchange* dx, int id, int& value);
void DDX_Text(CDataExchange* dx, int id, UINT& value);
void DDX_Check(CDataExchange* dx, int id, int& value);
void DDX_Radio(CDataExchange* dx, int id, int& value);
void DDX_CBIndex(CDataExchange* dx, int id, int& index);
void DDX_CBString(CDataExchange* dx, int id, CString& value);
void DDX_LBIndex(CDataExchange* dx, int id, int& index);
// Attaches the control object to the dialog's control (once).
void DDX_Control(CDataExchange* dx, int id, CWnd& control);
// Loading: limits the edit's text; saving: refuses a longer value ("Please enter no more than %d
// characters.").
void DDV_MaxChars(CDataExchange* dx, const CString& value, int maxChars);
void DDV_MinMaxInt(CDataExchange* dx, int value, int minValue, int maxValue);

class CDialog : public CWnd {
  DECLARE_DYNAMIC(CDialog)

 public:
  CDialog() = default;
  explicit CDialog(UINT idTemplate, CWnd* parent = nullptr);
  explicit CDialog(LPCSTR templateName, CWnd* parent = nullptr);

  // Modeless: the dialog window of the template, a pop-up of parent (or a child for WS_CHILD templates).
  BOOL Create(UINT idTemplate, CWnd* parent = nullptr);
  BOOL Create(LPCSTR templateName, CWnd* parent = nullptr);
  BOOL CreateIndirect(LPCDLGTEMPLATE dialogTemplate, CWnd* parent = nullptr);
  // A template in memory for DoModal (the data stays the caller's).
  BOOL InitModalIndirect(LPCDLGTEMPLATE dialogTemplate, CWnd* parent = nullptr);
  // Runs the dialog: the owner (the parent's top-level window, or the main window) is disabled until it
  // ends; messages pass PreTranslateMessage of the windows they are for (and the dialog's navigation).
  // Returns EndDialog's result; -1 when the dialog could not be made.
  virtual INT_PTR DoModal();
  void EndDialog(int result);

  // Data exchange with the controls; FALSE when a value failed its check (the user was told).
  BOOL UpdateData(BOOL saveAndValidate = TRUE);

  void NextDlgCtrl() const;
  void PrevDlgCtrl() const;
  void GotoDlgCtrl(CWnd* control);
  void SetDefID(UINT id);
  DWORD GetDefID() const;
  void MapDialogRect(LPRECT rect) const;
  BOOL CheckDlgButton(int id, UINT check) { return ::CheckDlgButton(m_hWnd, id, check); }
  UINT IsDlgButtonChecked(int id) const { return ::IsDlgButtonChecked(m_hWnd, id); }
  void SetDlgItemText(int id, LPCSTR text) { ::SetDlgItemText(m_hWnd, id, text); }
  int GetDlgItemText(int id, CString& text) const;

  BOOL PreTranslateMessage(MSG* msg) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  UINT m_nIDHelp = 0;
  LPCSTR m_lpszTemplateName = nullptr;  // MAKEINTRESOURCE of the id, or a name
  LPCDLGTEMPLATE m_lpDialogTemplate = nullptr;
  CWnd* m_pParentWnd = nullptr;

 protected:
  // WM_INITDIALOG: loads the controls from the members (UpdateData(FALSE)); TRUE gives the focus to the
  // first control.
  virtual BOOL OnInitDialog();
  virtual void DoDataExchange(CDataExchange*) {}
  // IDOK: saves and checks the data, then ends with IDOK; IDCANCEL: ends with IDCANCEL.
  virtual void OnOK();
  virtual void OnCancel();
  // IDOK and IDCANCEL reach OnOK and OnCancel unless the message map takes them.
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
  // WM_CLOSE goes the dialog's way (IDCANCEL).
  void OnClose() override;
  // The dialog, its labels and boxes take the application's dialog colours (SetDialogBkColor) when no
  // handler or control took WM_CTLCOLOR*; edits and lists keep theirs.
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  HWND MakeWindow(HWND parent);
  bool modal_ = false;
  bool ended_ = false;
  INT_PTR result_ = -1;
};

// A view whose client area is a dialog template (a child template: WS_CHILD, no caption); controls and
// data exchange as in a dialog.
class CFormView : public CView {
  DECLARE_DYNAMIC(CFormView)

 public:
  explicit CFormView(UINT idTemplate);
  explicit CFormView(LPCSTR templateName);
  BOOL CreateEx(DWORD exStyle, LPCSTR windowName, DWORD style, int x, int y, int width, int height, HWND parent,
                UINT_PTR id, LPVOID param = nullptr) override;
  BOOL UpdateData(BOOL saveAndValidate = TRUE);
  void OnInitialUpdate() override;
  void OnDraw(CDC*) override {}
  BOOL PreTranslateMessage(MSG* msg) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  virtual void DoDataExchange(CDataExchange*) {}
  void OnPaint() override;
  LPCSTR m_lpszTemplateName = nullptr;
};

class CEdit : public CWnd {
  DECLARE_DYNAMIC(CEdit)

 public:
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  void SetLimitText(UINT max) { ::SendMessage(m_hWnd, EM_LIMITTEXT, max, 0); }
  void LimitText(int max = 0) { SetLimitText(static_cast<UINT>(max)); }
  UINT GetLimitText() const { return static_cast<UINT>(::SendMessage(m_hWnd, EM_GETLIMITTEXT, 0, 0)); }
  void SetSel(int start, int end, BOOL noScroll = FALSE);
  void GetSel(int& start, int& end) const;
  DWORD GetSel() const { return static_cast<DWORD>(::SendMessage(m_hWnd, EM_GETSEL, 0, 0)); }
  void ReplaceSel(LPCSTR text, BOOL canUndo = FALSE);
  void SetPasswordChar(char ch) { ::SendMessage(m_hWnd, EM_SETPASSWORDCHAR, static_cast<unsigned char>(ch), 0); }
  char GetPasswordChar() const { return static_cast<char>(::SendMessage(m_hWnd, EM_GETPASSWORDCHAR, 0, 0)); }
  BOOL SetReadOnly(BOOL readOnly = TRUE) { return static_cast<BOOL>(::SendMessage(m_hWnd, EM_SETREADONLY, readOnly, 0)); }
  BOOL GetModify() const { return static_cast<BOOL>(::SendMessage(m_hWnd, EM_GETMODIFY, 0, 0)); }
  void SetModify(BOOL modified = TRUE) { ::SendMessage(m_hWnd, EM_SETMODIFY, modified, 0); }
  void Clear() { ::SendMessage(m_hWnd, WM_CLEAR, 0, 0); }
};

class CComboBox : public CWnd {
  DECLARE_DYNAMIC(CComboBox)

 public:
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  int AddString(LPCSTR text);
  int InsertString(int index, LPCSTR text);
  int DeleteString(UINT index);
  void ResetContent();
  int GetCount() const;
  int GetCurSel() const;
  int SetCurSel(int index);
  int GetLBText(int index, LPSTR buffer) const;
  void GetLBText(int index, CString& text) const;
  int GetLBTextLen(int index) const;
  int FindString(int startAfter, LPCSTR text) const;
  int FindStringExact(int startAfter, LPCSTR text) const;
  int SelectString(int startAfter, LPCSTR text);
  DWORD_PTR GetItemData(int index) const;
  int SetItemData(int index, DWORD_PTR data);
  void ShowDropDown(BOOL show = TRUE);
  BOOL GetDroppedState() const;
};

class CListBox : public CWnd {
  DECLARE_DYNAMIC(CListBox)

 public:
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  int AddString(LPCSTR text);
  int InsertString(int index, LPCSTR text);
  int DeleteString(UINT index);
  void ResetContent();
  int GetCount() const;
  int GetCurSel() const;
  int SetCurSel(int index);
  int GetText(int index, LPSTR buffer) const;
  void GetText(int index, CString& text) const;
  int GetTextLen(int index) const;
  int FindString(int startAfter, LPCSTR text) const;
  int FindStringExact(int startAfter, LPCSTR text) const;
  int SelectString(int startAfter, LPCSTR text);
  DWORD_PTR GetItemData(int index) const;
  int SetItemData(int index, DWORD_PTR data);
  int GetTopIndex() const;
  int SetTopIndex(int index);
};

class CScrollBar : public CWnd {
  DECLARE_DYNAMIC(CScrollBar)

 public:
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  int GetScrollPos() const { return ::GetScrollPos(m_hWnd, SB_CTL); }
  int SetScrollPos(int pos, BOOL redraw = TRUE) { return ::SetScrollPos(m_hWnd, SB_CTL, pos, redraw); }
  void GetScrollRange(LPINT minPos, LPINT maxPos) const { ::GetScrollRange(m_hWnd, SB_CTL, minPos, maxPos); }
  void SetScrollRange(int minPos, int maxPos, BOOL redraw = TRUE) { ::SetScrollRange(m_hWnd, SB_CTL, minPos, maxPos, redraw); }
  BOOL SetScrollInfo(LPSCROLLINFO info, BOOL redraw = TRUE) { ::SetScrollInfo(m_hWnd, SB_CTL, info, redraw); return TRUE; }
  BOOL GetScrollInfo(LPSCROLLINFO info, UINT mask = SIF_ALL) const;
};

class CStringList : public CList<CString, LPCSTR> {};
