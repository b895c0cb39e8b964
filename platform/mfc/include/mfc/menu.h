// CMenu: a menu handle with the item operations. An object made with Create/Load or Attach is the
// permanent object of its handle (FromHandlePermanent finds it, and frames route owner-drawn item messages
// to it); FromHandle gives other handles a temporary object of this thread that owns nothing.
#pragma once
#include "mfc/object.h"
#include "mfc/string.h"
#include "win32/windows.h"

class CWnd;

class CMenu : public CObject {
  DECLARE_DYNCREATE(CMenu)

 public:
  CMenu() = default;
  ~CMenu() override;  // destroys the menu it still owns
  CMenu(const CMenu&) = delete;
  CMenu& operator=(const CMenu&) = delete;

  HMENU m_hMenu = nullptr;

  HMENU GetSafeHmenu() const { return m_hMenu; }
  operator HMENU() const { return m_hMenu; }                       // NOLINT
  static CMenu* FromHandle(HMENU menu);
  static CMenu* FromHandlePermanent(HMENU menu);
  static void DeleteTempMap();

  BOOL CreateMenu();
  BOOL CreatePopupMenu();
  virtual BOOL LoadMenu(UINT idResource);
  virtual BOOL LoadMenu(LPCSTR resourceName);
  BOOL LoadMenuIndirect(const void* templateBytes);
  virtual BOOL DestroyMenu();
  BOOL Attach(HMENU menu);
  HMENU Detach();

  BOOL AppendMenu(UINT flags, UINT_PTR id = 0, LPCSTR text = nullptr) { return ::AppendMenu(m_hMenu, flags, id, text); }
  BOOL InsertMenu(UINT position, UINT flags, UINT_PTR id = 0, LPCSTR text = nullptr) {
    return ::InsertMenu(m_hMenu, position, flags, id, text);
  }
  BOOL ModifyMenu(UINT position, UINT flags, UINT_PTR id = 0, LPCSTR text = nullptr) {
    return ::ModifyMenu(m_hMenu, position, flags, id, text);
  }
  BOOL RemoveMenu(UINT position, UINT flags) { return ::RemoveMenu(m_hMenu, position, flags); }
  BOOL DeleteMenu(UINT position, UINT flags) { return ::DeleteMenu(m_hMenu, position, flags); }
  UINT GetMenuItemCount() const { return static_cast<UINT>(::GetMenuItemCount(m_hMenu)); }
  UINT GetMenuItemID(int position) const { return ::GetMenuItemID(m_hMenu, position); }
  UINT GetMenuState(UINT id, UINT flags) const { return ::GetMenuState(m_hMenu, id, flags); }
  int GetMenuString(UINT id, LPSTR buffer, int size, UINT flags) const {
    return ::GetMenuString(m_hMenu, id, buffer, size, flags);
  }
  int GetMenuString(UINT id, CString& text, UINT flags) const;
  CMenu* GetSubMenu(int position) const { return FromHandle(::GetSubMenu(m_hMenu, position)); }
  UINT CheckMenuItem(UINT id, UINT check) { return ::CheckMenuItem(m_hMenu, id, check); }
  UINT EnableMenuItem(UINT id, UINT enable) { return static_cast<UINT>(::EnableMenuItem(m_hMenu, id, enable)); }
  BOOL SetDefaultItem(UINT item, BOOL byPosition = FALSE) { return ::SetMenuDefaultItem(m_hMenu, item, byPosition); }
  BOOL GetMenuItemInfo(UINT item, LPMENUITEMINFO info, BOOL byPosition = FALSE) const {
    return ::GetMenuItemInfo(m_hMenu, item, byPosition, info);
  }
  BOOL SetMenuItemInfo(UINT item, LPCMENUITEMINFO info, BOOL byPosition = FALSE) {
    return ::SetMenuItemInfo(m_hMenu, item, byPosition, info);
  }
  BOOL InsertMenuItem(UINT item, LPCMENUITEMINFO info, BOOL byPosition = FALSE) {
    return ::InsertMenuItem(m_hMenu, item, byPosition, info);
  }
  BOOL GetMenuInfo(LPMENUINFO info) const { return ::GetMenuInfo(m_hMenu, info); }
  BOOL SetMenuInfo(LPCMENUINFO info) { return ::SetMenuInfo(m_hMenu, info); }
  // Tracks the menu as a popup of the window; what the call returns (the command with TPM_RETURNCMD).
  BOOL TrackPopupMenu(UINT flags, int x, int y, CWnd* wnd, LPCRECT rect = nullptr);
  BOOL TrackPopupMenuEx(UINT flags, int x, int y, CWnd* wnd, LPTPMPARAMS params);

  // Owner-drawn items of this menu.
  virtual void DrawItem(LPDRAWITEMSTRUCT drawItem);
  virtual void MeasureItem(LPMEASUREITEMSTRUCT measureItem);

  // The menu the thread is tracking through TrackPopupMenu, and the window it reports to (or null).
  static HMENU GetTrackingMenu();
  static HWND GetTrackingWindow();
  // The permanent object of the menu under root (root included) holding an item with the command and
  // item data, or null.
  static CMenu* FindOwnerOfItem(HMENU root, UINT id, ULONG_PTR data);

 private:
  void Register();
  void Unregister();
  bool temporary_ = false;
};
