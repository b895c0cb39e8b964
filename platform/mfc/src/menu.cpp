#include "mfc/menu.h"

#include <map>
#include <memory>
#include <mutex>

#include "mfc/app.h"
#include "mfc/wnd.h"

IMPLEMENT_DYNCREATE(CMenu, CObject)

namespace {

std::mutex g_permanentLock;
std::map<HMENU, CMenu*>& Permanent() {
  static auto* map = new std::map<HMENU, CMenu*>;
  return *map;
}
thread_local std::map<HMENU, std::unique_ptr<CMenu>>* t_temporary = nullptr;
thread_local HMENU t_trackingMenu = nullptr;
thread_local HWND t_trackingWindow = nullptr;

HINSTANCE ResourceModule() {
  CWinApp* app = AfxGetApp();
  return app ? app->m_hInstance : nullptr;
}

// Runs `track` (a popup loop owned by `wnd`) with `menu` and `wnd` as the ones tracked, restored after.
template <class Track>
BOOL Tracking(HMENU menu, CWnd* wnd, Track track) {
  const HMENU savedMenu = t_trackingMenu;
  const HWND savedWindow = t_trackingWindow;
  t_trackingMenu = menu;
  t_trackingWindow = wnd ? wnd->m_hWnd : nullptr;
  const BOOL result = track(t_trackingWindow);
  t_trackingMenu = savedMenu;
  t_trackingWindow = savedWindow;
  return result;
}

}  // namespace

CMenu::~CMenu() {
  if (!temporary_) DestroyMenu();
}

void CMenu::Register() {
  if (!m_hMenu || temporary_) return;
  std::lock_guard<std::mutex> lock(g_permanentLock);
  Permanent()[m_hMenu] = this;
}

void CMenu::Unregister() {
  if (!m_hMenu || temporary_) return;
  std::lock_guard<std::mutex> lock(g_permanentLock);
  auto it = Permanent().find(m_hMenu);
  if (it != Permanent().end() && it->second == this) Permanent().erase(it);
}

CMenu* CMenu::FromHandlePermanent(HMENU menu) {
  std::lock_guard<std::mutex> lock(g_permanentLock);
  auto it = Permanent().find(menu);
  return it == Permanent().end() ? nullptr : it->second;
}

CMenu* CMenu::FromHandle(HMENU menu) {
  if (!menu) return nullptr;
  if (CMenu* permanent = FromHandlePermanent(menu)) return permanent;
  if (!t_temporary) t_temporary = new std::map<HMENU, std::unique_ptr<CMenu>>;
  auto& slot = (*t_temporary)[menu];
  if (!slot) {
    slot = std::make_unique<CMenu>();
    slot->temporary_ = true;
    slot->m_hMenu = menu;
  }
  return slot.get();
}

void CMenu::DeleteTempMap() {
  if (t_temporary) t_temporary->clear();
}

BOOL CMenu::Attach(HMENU menu) {
  if (!menu || m_hMenu) return FALSE;
  m_hMenu = menu;
  Register();
  return TRUE;
}

HMENU CMenu::Detach() {
  Unregister();
  HMENU menu = m_hMenu;
  m_hMenu = nullptr;
  return menu;
}

BOOL CMenu::CreateMenu() { return Attach(::CreateMenu()); }
BOOL CMenu::CreatePopupMenu() { return Attach(::CreatePopupMenu()); }
BOOL CMenu::LoadMenu(UINT idResource) { return Attach(::LoadMenu(ResourceModule(), reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(idResource)))); }
BOOL CMenu::LoadMenu(LPCSTR name) { return Attach(::LoadMenu(ResourceModule(), name)); }
BOOL CMenu::LoadMenuIndirect(const void* bytes) { return Attach(::LoadMenuIndirect(bytes)); }

BOOL CMenu::DestroyMenu() {
  if (!m_hMenu) return FALSE;
  Unregister();
  HMENU menu = m_hMenu;
  m_hMenu = nullptr;
  if (t_temporary) t_temporary->erase(menu);
  return ::DestroyMenu(menu);
}

int CMenu::GetMenuString(UINT id, CString& text, UINT flags) const {
  const int length = ::GetMenuString(m_hMenu, id, nullptr, 0, flags);
  std::string buffer(static_cast<size_t>(length) + 1, '\0');
  ::GetMenuString(m_hMenu, id, buffer.data(), length + 1, flags);
  buffer.resize(static_cast<size_t>(length));
  text = buffer.c_str();
  return length;
}

BOOL CMenu::TrackPopupMenu(UINT flags, int x, int y, CWnd* wnd, LPCRECT rect) {
  return Tracking(m_hMenu, wnd, [&](HWND owner) { return ::TrackPopupMenu(m_hMenu, flags, x, y, 0, owner, rect); });
}

BOOL CMenu::TrackPopupMenuEx(UINT flags, int x, int y, CWnd* wnd, LPTPMPARAMS params) {
  return Tracking(m_hMenu, wnd, [&](HWND owner) { return ::TrackPopupMenuEx(m_hMenu, flags, x, y, owner, params); });
}

void CMenu::DrawItem(LPDRAWITEMSTRUCT) {}
void CMenu::MeasureItem(LPMEASUREITEMSTRUCT) {}

HMENU CMenu::GetTrackingMenu() { return t_trackingMenu; }
HWND CMenu::GetTrackingWindow() { return t_trackingWindow; }

CMenu* CMenu::FindOwnerOfItem(HMENU root, UINT id, ULONG_PTR data) {
  const int count = ::GetMenuItemCount(root);
  for (int i = 0; i < count; ++i) {
    MENUITEMINFO info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_DATA | MIIM_ID | MIIM_SUBMENU;
    if (!::GetMenuItemInfo(root, static_cast<UINT>(i), TRUE, &info)) continue;
    if (info.wID == id && info.dwItemData == data) return FromHandlePermanent(root);
    if (info.hSubMenu)
      if (CMenu* found = FindOwnerOfItem(info.hSubMenu, id, data)) return found;
  }
  return nullptr;
}
