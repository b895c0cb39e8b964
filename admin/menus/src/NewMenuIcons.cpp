// Icon sets: toolbar bitmaps as image lists with their darkened and faded variants, and the menu's
// routines that attach them to items.
#include <algorithm>
#include <cstring>

#include "admin/menus/NewMenu.h"
#include "admin/menus/NewMenuBitmaps.h"
#include "mfc/bars.h"
#include "ResourceAccess.h"
#include "win32/resources.h"
#include "win32/windows.h"

namespace {

bool IsNumber(LPCSTR name) { return IS_INTRESOURCE(name); }
UINT NumberOf(LPCSTR name) { return static_cast<UINT>(reinterpret_cast<UINT_PTR>(name)); }

}  // namespace

LPCSTR CNewMenuIcons::GetResourceName() const {
  if (m_nResourceId) return MAKEINTRESOURCE(static_cast<WORD>(m_nResourceId));
  return m_resourceName.IsEmpty() ? nullptr : m_resourceName.GetString();
}

void CNewMenuIcons::SetResourceName(LPCSTR name) {
  m_nResourceId = name && IsNumber(name) ? NumberOf(name) : 0;
  m_resourceName = name && !IsNumber(name) ? name : "";
}

CSize CNewMenuIcons::GetIconSize() const {
  int cx = 0, cy = 0;
  if (!m_imageList.m_hImageList || !ImageList_GetIconSize(m_imageList.m_hImageList, &cx, &cy)) return CSize(0, 0);
  return CSize(cx, cy);
}

UINT CNewMenuIcons::FindIndex(UINT id) const {
  for (size_t i = m_keys.size(); i-- > 0;)
    if (m_keys[i] == id) return static_cast<UINT>(3 * i);
  return 0xFFFFFFFF;
}

BOOL CNewMenuIcons::LoadImageList(int width, int height, LPCSTR name, HINSTANCE instance) {
  HBITMAP bitmap = newmenu_res::LoadBitmap(instance ? instance : newmenu_res::ResourceModule(), name);
  if (!bitmap) return FALSE;
  m_nColorDepth = newmenu_res::ColorDepth(instance ? instance : newmenu_res::ResourceModule(), name);
  m_imageList.DeleteImageList();
  m_imageList.Create(width, height, ILC_COLORDDB | ILC_MASK, 0, 10);
  ImageList_AddMasked(m_imageList.m_hImageList, bitmap, m_crTransparent);
  DeleteObject(bitmap);
  return TRUE;
}

BOOL CNewMenuIcons::LoadFromTable(const WORD* table, COLORREF transparent) {
  if (!table || !table[0]) return FALSE;
  m_crTransparent = transparent;
  if (!LoadImageList(table[1], table[2], MAKEINTRESOURCE(table[0]), nullptr)) return FALSE;
  SetResourceName(MAKEINTRESOURCE(table[0]));
  bool appended = false;
  for (const WORD* id = table + 3; *id; ++id) {
    m_keys.push_back(*id);
    appended = true;
  }
  BuildVariants();
  return appended;
}

BOOL CNewMenuIcons::MatchesTable(const WORD* table, COLORREF transparent) const {
  if (!table || !table[0] || transparent != m_crTransparent || m_nResourceId != table[0]) return FALSE;
  size_t i = 0;
  for (; i < m_keys.size(); ++i)
    if (table[3 + i] == 0 || table[3 + i] != m_keys[i]) return FALSE;
  // A table with further commands is another table.
  return table[3 + i] == 0;
}

BOOL CNewMenuIcons::MatchesResource(LPCSTR name, HINSTANCE instance) const {
  if (instance != m_hInstance || !name || !GetResourceName()) return FALSE;
  if (IsNumber(name)) return m_nResourceId != 0 && NumberOf(name) == m_nResourceId;
  return m_nResourceId == 0 && std::strcmp(name, m_resourceName.GetString()) == 0;
}

BOOL CNewMenuIcons::LoadFromToolBarResource(LPCSTR name, HINSTANCE instance) {
  SetResourceName(name);
  m_hInstance = instance;
  const uint8_t* bytes = nullptr;
  DWORD size = 0;
  if (!name || !newmenu_res::Read(instance ? instance : newmenu_res::ResourceModule(), RT_TOOLBAR, name, &bytes, &size) ||
      size < 8)
    return FALSE;
  auto word = [&](size_t i) {
    WORD w;
    std::memcpy(&w, bytes + 2 * i, 2);
    return w;
  };
  // The item count is trusted only as far as the resource reaches.
  const size_t count = std::min<size_t>(word(3), (size - 8) / 2);
  if (!LoadImageList(word(1), word(2), name, instance)) return FALSE;
  m_keys.clear();
  for (size_t i = 0; i < count; ++i)
    if (word(4 + i)) m_keys.push_back(word(4 + i));
  BuildVariants();
  return !m_keys.empty();
}

UINT CNewMenuIcons::AddVariant(HICON icon, int index, bool faded) {
  ICONINFO info{};
  if (!icon || !GetIconInfo(icon, &info)) return 0xFFFFFFFF;
  BITMAP bm{};
  GetObject(info.hbmColor, sizeof bm, &bm);
  HDC memory = CreateCompatibleDC(nullptr);  // the screen's format, without composing the screen
  HGDIOBJ old = SelectObject(memory, info.hbmColor);
  const COLORREF bar = CNewMenu::GetMenuBarColor(nullptr);
  for (int y = 0; y < bm.bmHeight; ++y)
    for (int x = 0; x < bm.bmWidth; ++x) {
      const COLORREF pixel = GetPixel(memory, x, y);
      SetPixel(memory, x, y, faded ? MixColors86(LightenColor(100, GrayColor(pixel)), bar) : DarkenColor(50, pixel));
    }
  SelectObject(memory, old);
  DeleteDC(memory);
  UINT result;
  if (index == -1) {
    const int added = ImageList_Add(m_imageList.m_hImageList, info.hbmColor, info.hbmMask);
    result = added < 0 ? 0xFFFFFFFF : static_cast<UINT>(added);
  } else {
    result = ImageList_Replace(m_imageList.m_hImageList, index, info.hbmColor, info.hbmMask)
                 ? static_cast<UINT>(index)
                 : 0xFFFFFFFF;
  }
  // The two bitmaps are copies made for us: freed with every variant.
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return result;
}

UINT CNewMenuIcons::AddDarkenedVariant(HICON icon, int index) { return AddVariant(icon, index, false); }
UINT CNewMenuIcons::AddFadedVariant(HICON icon, int index) { return AddVariant(icon, index, true); }

BOOL CNewMenuIcons::BuildVariants() {
  if (!m_imageList.m_hImageList || m_imageList.GetImageCount() == 0) return FALSE;
  const CSize size = GetIconSize();
  HIMAGELIST old = m_imageList.Detach();
  m_imageList.Create(size.cx, size.cy, ILC_COLORDDB | ILC_MASK, 0, 10);
  const int count = ImageList_GetImageCount(old);
  for (int i = 0; i < count; ++i) {
    HICON icon = ImageList_GetIcon(old, i, ILD_NORMAL);
    ImageList_ReplaceIcon(m_imageList.m_hImageList, -1, icon);
    AddDarkenedVariant(icon, -1);
    AddFadedVariant(icon, -1);
    DestroyIcon(icon);
  }
  ImageList_Destroy(old);
  return TRUE;
}

void CNewMenuIcons::RefreshColors() {
  if (!GetResourceName()) return;
  const CSize size = GetIconSize();
  if (size.cx == 0) return;
  // The pictures come again from the resource (they may follow the system colours), then their variants.
  if (LoadImageList(size.cx, size.cy, GetResourceName(), m_hInstance)) BuildVariants();
}

void CNewMenu::AttachIcons(CNewMenuIcons* set) {
  set->AddRef();  // held while its icons are attached
  for (size_t i = set->m_keys.size(); i-- > 0;)
    ModifyOwnerDrawItem(nullptr, set->m_keys[i], set, static_cast<int>(3 * i));
  set->Release();
}

BOOL CNewMenu::LoadToolBar(const WORD* table, COLORREF transparent) {
  if (transparent == 0xFFFFFFFF) transparent = m_bitmapBackground;
  CNewMenuGlobalState& state = GetNewMenuGlobalState();
  CNewMenuIcons* set = nullptr;
  for (CNewMenuIcons* candidate : state.m_iconSets)
    if (candidate->MatchesTable(table, transparent)) {
      set = candidate;
      break;
    }
  if (!set) {
    set = new CNewMenuIcons;
    if (!set->LoadFromTable(table, transparent)) {
      delete set;
      return FALSE;
    }
    state.m_iconSets.push_back(set);
  }
  AttachIcons(set);
  return TRUE;
}

CNewMenuIcons* CNewMenu::ToolBarIconSet(LPCSTR resourceName, HINSTANCE instance) {
  CNewMenuGlobalState& state = GetNewMenuGlobalState();
  for (CNewMenuIcons* candidate : state.m_iconSets)
    if (!dynamic_cast<CNewMenuBitmaps*>(candidate) && candidate->MatchesResource(resourceName, instance) &&
        candidate->m_keys.size())
      return candidate;
  auto* set = new CNewMenuIcons;
  set->m_crTransparent = m_bitmapBackground;
  if (!set->LoadFromToolBarResource(resourceName, instance)) {
    delete set;
    return nullptr;
  }
  state.m_iconSets.push_back(set);
  return set;
}

BOOL CNewMenu::LoadToolBar(LPCSTR resourceName, HINSTANCE instance) {
  CNewMenuIcons* set = ToolBarIconSet(resourceName, instance);
  if (!set) return FALSE;
  AttachIcons(set);
  return TRUE;
}

BOOL CNewMenu::LoadToolBar(UINT resourceId, HINSTANCE instance) {
  return LoadToolBar(MAKEINTRESOURCE(static_cast<WORD>(resourceId)), instance);
}

BOOL CNewMenu::LoadToolBars(const UINT* resourceIds, int count, HINSTANCE instance) {
  BOOL all = TRUE;
  for (int i = 0; resourceIds && i < count; ++i) all = LoadToolBar(resourceIds[i], instance) && all;
  return all;
}

BOOL CNewMenu::HasToolBarButton(UINT commandId, UINT toolbarId) {
  // The toolbar is made on the main window; without one, on a hidden window of its own.
  CWnd* parent = AfxGetMainWnd();
  CWnd holder;
  if (!parent || !::IsWindow(parent->GetSafeHwnd())) {
    if (!holder.CreateEx(0, "", WS_POPUP, 0, 0, 0, 0, nullptr, 0)) return FALSE;
    parent = &holder;
  }
  CToolBar toolbar;
  BOOL found = FALSE;
  if (toolbar.Create(parent, 0x50002800, 0xE800)) {
    found = toolbar.LoadToolBar(toolbarId) && toolbar.CommandToIndex(commandId) >= 0;
    toolbar.DestroyWindow();
  }
  if (holder.m_hWnd) holder.DestroyWindow();
  return found;
}

BOOL CNewMenu::AddBitmapResource(CImageList* list, UINT_PTR id) {
  if (!list || !list->m_hImageList) return FALSE;
  if (m_bIconHandles) return ImageList_ReplaceIcon(list->m_hImageList, -1, reinterpret_cast<HICON>(id)) >= 0;
  const LPCSTR name = MAKEINTRESOURCE(static_cast<WORD>(id));
  // A 16-colour bitmap follows the system colours.
  HBITMAP bitmap = newmenu_res::ColorDepth(newmenu_res::ResourceModule(), name) == 16
                       ? LoadSysColorBitmap(name)
                       : newmenu_res::LoadBitmap(newmenu_res::ResourceModule(), name);
  if (!bitmap) return FALSE;
  const int index = ImageList_AddMasked(list->m_hImageList, bitmap, GetBitmapBackgroundColor());
  DeleteObject(bitmap);
  return index >= 0;
}

HBITMAP CNewMenu::LoadSysColorBitmap(LPCSTR resourceName) {
  HINSTANCE module = newmenu_res::ResourceModule();
  if (newmenu_res::ColorDepth(module, resourceName) != 16) return nullptr;
  HRSRC resource = ::FindResource(module, resourceName, RT_BITMAP);
  return resource ? AfxLoadSysColorBitmap(module, resource) : nullptr;
}

void CNewMenu::SetCheckMarkImages(UINT normalId, UINT selectedId) {
  if (static_cast<int>(normalId) < 1 || static_cast<int>(selectedId) < 1) return;
  m_normalCheckId = normalId;
  m_selectedCheckId = selectedId;
  if (!m_pCheckMarkImages || m_bSharedCheckMarks) {
    m_pCheckMarkImages = new CImageList;
    m_bSharedCheckMarks = FALSE;
  }
  m_pCheckMarkImages->DeleteImageList();
  m_pCheckMarkImages->Create(m_iconX, m_iconY, ILC_COLORDDB | ILC_MASK, 2, 1);
  if (!AddBitmapResource(m_pCheckMarkImages, normalId) || !AddBitmapResource(m_pCheckMarkImages, selectedId)) {
    delete m_pCheckMarkImages;
    m_pCheckMarkImages = nullptr;
  }
}
