// Wrappers of the common controls: CProgressCtrl, CAnimateCtrl, CIPAddressCtrl, CToolBarCtrl and
// CStatusBarCtrl over their window classes (win32/comctl.h).
#pragma once
#include "mfc/gdi.h"
#include "mfc/imagelist.h"
#include "mfc/wnd.h"
#include "win32/comctl.h"

namespace mfc {
// Makes a control of a common-control class as a child of parent and attaches `object` to it.
BOOL CreateCommonControl(CWnd& object, LPCSTR className, LPCSTR text, DWORD style, const RECT& rect, CWnd* parent,
                         UINT id, DWORD exStyle = 0);
}  // namespace mfc

class CProgressCtrl : public CWnd {
  DECLARE_DYNAMIC(CProgressCtrl)

 public:
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  void SetRange(short low, short high);
  void SetRange32(int low, int high);
  void GetRange(int& low, int& high) const;
  int SetPos(int pos);
  int GetPos() const;
  int OffsetPos(int delta);
  int SetStep(int step);
  int StepIt();
  COLORREF SetBarColor(COLORREF color);
  COLORREF SetBkColor(COLORREF color);
};

class CAnimateCtrl : public CWnd {
  DECLARE_DYNAMIC(CAnimateCtrl)

 public:
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  // A clip resource of type "AVI" by id, or by name or file path.
  BOOL Open(UINT resourceId);
  BOOL Open(LPCSTR fileOrName);
  BOOL Play(UINT from, UINT to, UINT repeat);
  BOOL Stop();
  BOOL Close();
  BOOL IsPlaying() const;

 protected:
  void OnTimer(UINT_PTR id) override { DefWindowProc(WM_TIMER, id, 0); }  // the frame timer
};

class CIPAddressCtrl : public CWnd {
  DECLARE_DYNAMIC(CIPAddressCtrl)

 public:
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  BOOL IsBlank() const;
  void ClearAddress();
  // The number of fields that are not blank (blank ones read as 0).
  int GetAddress(BYTE& field0, BYTE& field1, BYTE& field2, BYTE& field3);
  int GetAddress(DWORD& address);
  void SetAddress(BYTE field0, BYTE field1, BYTE field2, BYTE field3);
  void SetAddress(DWORD address);
  void SetFieldFocus(WORD field);
  void SetFieldRange(int field, BYTE low, BYTE high);
};

class CToolBarCtrl : public CWnd {
  DECLARE_DYNAMIC(CToolBarCtrl)

 public:
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  void SetButtonStructSize(int size);
  BOOL SetBitmapSize(CSize size);
  BOOL SetButtonSize(CSize size);
  CSize GetButtonSize() const;
  int AddBitmap(int count, UINT bitmapId);
  int AddBitmap(int count, CBitmap* bitmap);
  BOOL AddButtons(int count, const TBBUTTON* buttons);
  BOOL InsertButton(int index, const TBBUTTON* button);
  BOOL DeleteButton(int index);
  BOOL GetButton(int index, TBBUTTON* button) const;
  int GetButtonCount() const;
  int CommandToIndex(UINT id) const;
  BOOL EnableButton(int id, BOOL enable = TRUE);
  BOOL CheckButton(int id, BOOL check = TRUE);
  BOOL PressButton(int id, BOOL press = TRUE);
  BOOL HideButton(int id, BOOL hide = TRUE);
  BOOL IsButtonEnabled(int id) const;
  BOOL IsButtonChecked(int id) const;
  BOOL IsButtonPressed(int id) const;
  BOOL IsButtonHidden(int id) const;
  BOOL SetState(int id, UINT state);
  int GetState(int id) const;
  BOOL GetItemRect(int index, LPRECT rect) const;
  BOOL GetRect(int id, LPRECT rect) const;
  int HitTest(LPPOINT point) const;
  HIMAGELIST SetImageList(HIMAGELIST list);
  HIMAGELIST SetHotImageList(HIMAGELIST list);
  HIMAGELIST SetDisabledImageList(HIMAGELIST list);
  HIMAGELIST GetImageList() const;
  DWORD SetExtendedStyle(DWORD style);
  DWORD GetExtendedStyle() const;
  HWND GetToolTips() const;
  void SetOwner(CWnd* owner);
  void AutoSize();
};

class CStatusBarCtrl : public CWnd {
  DECLARE_DYNAMIC(CStatusBarCtrl)

 public:
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id);
  BOOL SetParts(int count, const int* rightEdges);
  int GetParts(int count, int* rightEdges) const;
  BOOL SetText(LPCSTR text, int part, int type);
  CString GetText(int part, int* type = nullptr) const;
  int GetTextLength(int part, int* type = nullptr) const;
  BOOL GetRect(int part, LPRECT rect) const;
  void SetSimple(BOOL simple = TRUE);
  BOOL IsSimple() const;
  void SetMinHeight(int height);
};
