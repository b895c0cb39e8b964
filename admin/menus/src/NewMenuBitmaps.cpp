#include "admin/menus/NewMenuBitmaps.h"

#include <algorithm>

#include "ResourceAccess.h"
#include "win32/resources.h"
#include "win32/windows.h"

IMPLEMENT_DYNAMIC(CNewMenuBitmaps, CObject)

BOOL CNewMenuBitmaps::HoldsKey(UINT key) const {
  return std::find(m_keys.begin(), m_keys.end(), key) != m_keys.end();
}

BOOL CNewMenuBitmaps::Fits(int width, int height) {
  if (m_imageList.m_hImageList) {
    const CSize size = GetIconSize();
    return size.cx == width && size.cy == height;
  }
  return m_imageList.Create(width, height, ILC_COLORDDB | ILC_MASK, 0, 10);
}

UINT CNewMenuBitmaps::AppendMasked(HBITMAP bitmap, COLORREF transparent, UINT key) {
  BITMAP info{};
  if (!bitmap || !GetObject(bitmap, sizeof info, &info) || !Fits(info.bmWidth, info.bmHeight)) return 0xFFFFFFFF;
  const int index = ImageList_AddMasked(m_imageList.m_hImageList, bitmap, transparent);
  if (index < 0) return 0xFFFFFFFF;
  m_keys.push_back(key);
  m_colors.push_back(transparent);
  HICON icon = ImageList_GetIcon(m_imageList.m_hImageList, index, 0);
  AddDarkenedVariant(icon, -1);
  AddFadedVariant(icon, -1);
  if (icon) DestroyIcon(icon);
  return static_cast<UINT>(index);
}

UINT CNewMenuBitmaps::AddBitmapResource(UINT bitmapId, COLORREF transparent) {
  if (HoldsKey(bitmapId)) return FindIndex(bitmapId);
  HINSTANCE module = m_hInstance;
  if (!module) {
    CWinApp* app = AfxGetApp();
    module = app ? app->m_hInstance : nullptr;
  }
  HBITMAP bitmap = newmenu_res::LoadBitmap(module, MAKEINTRESOURCE(static_cast<WORD>(bitmapId)));
  const UINT index = AppendMasked(bitmap, transparent, bitmapId);
  if (bitmap) DeleteObject(bitmap);
  return index;
}

UINT CNewMenuBitmaps::AddBitmap(HBITMAP bitmap, COLORREF transparent) { return AppendMasked(bitmap, transparent, 0); }

UINT CNewMenuBitmaps::AddIcon(HICON icon, UINT commandId) {
  ICONINFO info{};
  if (!icon || !GetIconInfo(icon, &info)) return 0xFFFFFFFF;
  BITMAP bm{};
  GetObject(info.hbmColor, sizeof bm, &bm);
  // The bitmaps are copies made for the query.
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  if (!Fits(bm.bmWidth, bm.bmHeight)) return 0xFFFFFFFF;
  if (commandId && HoldsKey(commandId)) {
    const UINT index = FindIndex(commandId);
    if (ImageList_ReplaceIcon(m_imageList.m_hImageList, static_cast<int>(index), icon) < 0) return 0xFFFFFFFF;
    AddDarkenedVariant(icon, static_cast<int>(index + 1));
    AddFadedVariant(icon, static_cast<int>(index + 2));
    return index;
  }
  const int index = ImageList_ReplaceIcon(m_imageList.m_hImageList, -1, icon);
  if (index < 0) return 0xFFFFFFFF;
  m_keys.push_back(commandId);
  m_colors.push_back(0xFFFFFFFF);
  AddDarkenedVariant(icon, -1);
  AddFadedVariant(icon, -1);
  return static_cast<UINT>(index);
}

void CNewMenuBitmaps::RefreshColors() {
  const int count = m_imageList.GetImageCount();
  for (int i = 0; i + 2 < count; i += 3) {
    HICON icon = ImageList_GetIcon(m_imageList.m_hImageList, i, 0);
    AddDarkenedVariant(icon, i + 1);
    AddFadedVariant(icon, i + 2);
    if (icon) DestroyIcon(icon);
  }
}

namespace {

// The set that takes the picture: one already holding the command for an icon, else a new one entered in
// the process-wide list. Null when the picture is refused.
CNewMenuBitmaps* SetFor(CNewMenu* menu, HICON icon, HBITMAP bitmap, UINT id, int* index) {
  auto& sets = GetNewMenuGlobalState().m_iconSets;
  if (icon && id)
    for (CNewMenuIcons* candidate : sets)
      if (auto* held = dynamic_cast<CNewMenuBitmaps*>(candidate); held && held->HoldsKey(id)) {
        const UINT at = held->AddIcon(icon, id);
        if (at == 0xFFFFFFFF) continue;
        *index = static_cast<int>(at);
        return held;
      }
  auto* set = new CNewMenuBitmaps;
  set->m_crTransparent = menu->GetBitmapBackgroundColor();
  const UINT at = icon ? set->AddIcon(icon, id) : set->AddBitmap(bitmap, set->m_crTransparent);
  if (at == 0xFFFFFFFF) {
    delete set;
    return nullptr;
  }
  sets.push_back(set);
  *index = static_cast<int>(at);
  return set;
}

// The set that holds a bitmap resource (or, with the menu's icon-handle flag, an icon handle): one that
// holds it already, else a new one entered in the process-wide list. Null when it cannot be loaded.
CNewMenuBitmaps* BitmapResourceSet(CNewMenu* menu, UINT_PTR value, int* index) {
  auto& sets = GetNewMenuGlobalState().m_iconSets;
  if (!menu->m_bIconHandles)
    for (CNewMenuIcons* candidate : sets)
      if (auto* held = dynamic_cast<CNewMenuBitmaps*>(candidate); held && held->HoldsKey(static_cast<UINT>(value))) {
        *index = static_cast<int>(held->FindIndex(static_cast<UINT>(value)));
        return held;
      }
  auto* set = new CNewMenuBitmaps;
  set->m_crTransparent = menu->GetBitmapBackgroundColor();
  const UINT at = menu->m_bIconHandles ? set->AddIcon(reinterpret_cast<HICON>(value), 0)
                                       : set->AddBitmapResource(static_cast<UINT>(value), set->m_crTransparent);
  if (at == 0xFFFFFFFF) {
    delete set;
    return nullptr;
  }
  sets.push_back(set);
  *index = static_cast<int>(at);
  return set;
}

// A set nobody took (the item could not be added) leaves the list again.
void DropIfUnused(CNewMenuBitmaps* set) {
  if (!set || set->GetRefCount() > 0) return;
  auto& sets = GetNewMenuGlobalState().m_iconSets;
  sets.erase(std::remove(sets.begin(), sets.end(), set), sets.end());
  delete set;
}

template <class Add>
BOOL WithPicture(CNewMenu* menu, HICON icon, HBITMAP bitmap, UINT_PTR id, Add add) {
  int index = -1;
  CNewMenuBitmaps* set = SetFor(menu, icon, bitmap, static_cast<UINT>(id), &index);
  if (icon) DestroyIcon(icon);
  const BOOL result = add(set, set ? index : -1);
  DropIfUnused(set);
  return result;
}

HICON IconOf(CImageList* list, int index) {
  return list && list->m_hImageList ? ImageList_GetIcon(list->m_hImageList, index, 0) : nullptr;
}

HBITMAP BitmapOf(CBitmap* bitmap) { return bitmap ? static_cast<HBITMAP>(bitmap->m_hObject) : nullptr; }

}  // namespace

BOOL CNewMenu::AppendOwnerDrawItem(LPCSTR text, UINT flags, UINT_PTR id, CImageList* list, int index) {
  return WithPicture(this, IconOf(list, index), nullptr, id, [&](CNewMenuIcons* set, int at) {
    return AppendOwnerDrawItem(text, flags, id, set, at);
  });
}

BOOL CNewMenu::AppendOwnerDrawItem(LPCSTR text, UINT flags, UINT_PTR id, CBitmap* bitmap) {
  return WithPicture(this, nullptr, BitmapOf(bitmap), id, [&](CNewMenuIcons* set, int at) {
    return AppendOwnerDrawItem(text, flags, id, set, at);
  });
}

BOOL CNewMenu::InsertOwnerDrawItem(UINT position, LPCSTR text, UINT flags, UINT_PTR id, CImageList* list, int index) {
  return WithPicture(this, IconOf(list, index), nullptr, id, [&](CNewMenuIcons* set, int at) {
    return InsertOwnerDrawItem(position, text, flags, id, set, at);
  });
}

BOOL CNewMenu::InsertOwnerDrawItem(UINT position, LPCSTR text, UINT flags, UINT_PTR id, CBitmap* bitmap) {
  return WithPicture(this, nullptr, BitmapOf(bitmap), id, [&](CNewMenuIcons* set, int at) {
    return InsertOwnerDrawItem(position, text, flags, id, set, at);
  });
}

BOOL CNewMenu::InsertOwnerDrawItem(UINT position, LPCSTR text, UINT flags, UINT_PTR id, int resourceId) {
  return WithResourceIcon(static_cast<UINT>(id), resourceId, [&](CNewMenuIcons* set, int at) {
    return InsertOwnerDrawItem(position, text, flags, id, set, at);
  });
}

BOOL CNewMenu::ModifyOwnerDrawItem(LPCSTR text, UINT id, CImageList* list, int index) {
  return WithPicture(this, IconOf(list, index), nullptr, id,
                     [&](CNewMenuIcons* set, int at) { return ModifyOwnerDrawItem(text, id, set, at); });
}

BOOL CNewMenu::ModifyOwnerDrawItem(LPCSTR text, UINT id, CBitmap* bitmap) {
  CImageList list;
  if (!bitmap || !list.Create(m_iconX, m_iconY, ILC_COLORDDB | ILC_MASK, 1, 1) ||
      ImageList_AddMasked(list.m_hImageList, BitmapOf(bitmap), GetBitmapBackgroundColor()) < 0)
    return ModifyOwnerDrawItem(text, id, static_cast<CNewMenuIcons*>(nullptr), -1);
  return ModifyOwnerDrawItem(text, id, &list, 0);
}

BOOL CNewMenu::ModifyOwnerDrawItem(LPCSTR text, UINT id, COLORREF fill, COLORREF frame, DWORD hatch) {
  HDC screen = ::GetDC(nullptr);
  CBitmap swatch;
  const BOOL made = CreateFramedBitmap(screen, swatch, CSize(m_iconX, m_iconY), fill, frame, hatch);
  ::ReleaseDC(nullptr, screen);
  if (!made) return ModifyOwnerDrawItem(text, id, static_cast<CNewMenuIcons*>(nullptr), -1);
  return ModifyOwnerDrawItem(text, id, &swatch);
}

BOOL CNewMenu::ModifyOwnerDrawItem(LPCSTR text, UINT id, int resourceId) {
  return WithResourceIcon(id, resourceId,
                          [&](CNewMenuIcons* set, int at) { return ModifyOwnerDrawItem(text, id, set, at); });
}

BOOL CNewMenu::WithResourceIcon(UINT command, int resourceId, const std::function<BOOL(CNewMenuIcons*, int)>& add) {
  if (resourceId < 0) return add(nullptr, -1);
  if (HasToolBarButton(command, static_cast<UINT>(resourceId))) {
    if (CNewMenuIcons* set = ToolBarIconSet(MAKEINTRESOURCE(static_cast<WORD>(resourceId)), nullptr)) {
      set->AddRef();  // held while the item takes it
      const BOOL result = add(set, static_cast<int>(set->FindIndex(command)));
      set->Release();
      return result;
    }
    return add(nullptr, -1);
  }
  int index = -1;
  CNewMenuBitmaps* set = BitmapResourceSet(this, static_cast<UINT>(resourceId), &index);
  const BOOL result = add(set, set ? index : -1);
  DropIfUnused(set);
  return result;
}
