// The classic, highlighted-bar and tinted looks, and the check-mark and system-command painting they share.
#include <algorithm>
#include <cstring>
#include <string>

#include "MenuPaint.h"
#include "admin/menus/NewMenu.h"
#include "win32/windows.h"

namespace {

using namespace newmenu_paint;

CNewMenuItemData* RecordOf(const CNewMenu* menu, ULONG_PTR data) {
  for (CNewMenuItemData* record : menu->m_items)
    if (reinterpret_cast<ULONG_PTR>(record) == data) return record;
  return nullptr;
}

// A Marlett glyph in the item's colours (grey when grayed or inactive, bold for the default item).
void DrawGlyphInItemColours(HDC dc, const RECT& rect, char ch, UINT state) {
  const COLORREF old =
      SetTextColor(dc, GetSysColor((state & (ODS_GRAYED | kOdsInactive)) ? COLOR_GRAYTEXT : COLOR_MENUTEXT));
  CNewMenu::DrawMarlettGlyph(dc, rect, ch, (state & ODS_DEFAULT) != 0);
  SetTextColor(dc, old);
}

struct ItemBitmaps {
  HBITMAP checked = nullptr;
  HBITMAP unchecked = nullptr;
  bool radio = false;
};

ItemBitmaps BitmapsOf(const CNewMenu* menu, UINT id) {
  MENUITEMINFO info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_CHECKMARKS | MIIM_FTYPE;
  ItemBitmaps bitmaps;
  if (::GetMenuItemInfo(menu->m_hMenu, id, FALSE, &info)) {
    bitmaps.checked = info.hbmpChecked;
    bitmaps.unchecked = info.hbmpUnchecked;
    bitmaps.radio = (info.fType & MFT_RADIOCHECK) != 0;
  }
  return bitmaps;
}

// Whether the menu's check-mark images stand for this item's check.
bool HasCheckImage(const CNewMenu* menu, UINT state) {
  if (!(state & ODS_CHECKED) || !menu->m_pCheckMarkImages) return false;
  if (state & ODS_SELECTED)
    return static_cast<int>(menu->m_selectedCheckId) > 0 || static_cast<int>(menu->m_normalCheckId) > 0;
  return static_cast<int>(menu->m_normalCheckId) > 0;
}

// The look's own colours.
struct Palette {
  COLORREF background;   // the item's fill
  COLORREF hilight;      // raised edges
  COLORREF shadow;       // sunken edges
  bool tinted;
};

}  // namespace

// Check mark of the classic and tinted looks: false when there is nothing to show.
BOOL DrawMenuCheckMark(HDC dc, RECT rect, HBITMAP checked, HBITMAP unchecked, UINT state) {
  if (!(state & ODS_CHECKED) && !unchecked) return FALSE;
  InflateRect(&rect, -1, -1);
  if (CNewMenu::IsNewShell()) DrawEdge(dc, &rect, BDR_SUNKENOUTER, BF_RECT);
  InflateRect(&rect, 2, 2);
  if (!(state & ODS_CHECKED)) {
    DrawBitmapCentred(dc, rect, unchecked, (state & (ODS_GRAYED | ODS_DISABLED)) ? DSS_DISABLED : 0);
  } else if (!checked) {
    OffsetRect(&rect, 1, 2);
    DrawGlyphInItemColours(dc, rect, 'b', state);
  } else if (unchecked) {
    DrawBitmapCentred(dc, rect, checked, 0);
  } else {
    DrawGlyphInItemColours(dc, rect, 'i', state);
  }
  return TRUE;
}

// The system commands' glyph of the classic and tinted looks.
void DrawMenuSystemGlyph(HDC dc, const RECT& rect, UINT command, UINT state) {
  const char glyph = SystemGlyph(command);
  if (!glyph) return;
  const int colour = (state & (ODS_GRAYED | kOdsInactive)) ? COLOR_GRAYTEXT
                     : (state & ODS_SELECTED)              ? COLOR_HIGHLIGHTTEXT
                                                           : COLOR_MENUTEXT;
  const COLORREF old = SetTextColor(dc, GetSysColor(colour));
  CNewMenu::DrawMarlettGlyph(dc, rect, glyph, (state & ODS_DEFAULT) != 0);
  SetTextColor(dc, old);
}

void CNewMenuStyle::DrawItem(CNewMenu* menu, LPDRAWITEMSTRUCT draw, BOOL barItem) {
  CNewMenuItemData* record = RecordOf(menu, draw->itemData);
  const bool separator = record && (record->m_nFlags & MF_SEPARATOR);
  if (barItem || separator || !record) {
    if (m_look == kHighlightedBar) DrawHighlightedBar(menu, draw, barItem);
    else if (m_look == kTinted) DrawTinted(menu, draw, barItem);
    else DrawClassic(menu, draw, barItem);
    return;
  }
  // Popup items are painted off screen and copied in one go.
  CNewMenuMemDC memory(draw->hDC, draw->rcItem);
  DRAWITEMSTRUCT offScreen = *draw;
  offScreen.hDC = memory.m_hDC;
  if (m_look == kTinted) DrawTinted(menu, &offScreen, barItem);
  else DrawClassic(menu, &offScreen, barItem);  // the highlighted bar's popups are the classic ones
}

void CNewMenuStyle::DrawHighlightedBar(CNewMenu* menu, LPDRAWITEMSTRUCT draw, BOOL barItem) {
  if (!barItem) {
    DrawClassic(menu, draw, barItem);
    return;
  }
  CNewMenuItemData* record = RecordOf(menu, draw->itemData);
  const UINT state = draw->itemState;
  const bool lit = (state & (ODS_SELECTED | ODS_HOTLIGHT)) != 0;
  Fill(draw->hDC, draw->rcItem, lit ? GetSysColor(COLOR_HIGHLIGHT) : CNewMenu::GetMenuBarColor(nullptr));
  if (lit) menu->StoreBarItemRect(draw->hDC, &draw->rcItem);
  if (!record) return;
  const int colour = (state & (ODS_GRAYED | ODS_DISABLED)) ? COLOR_GRAYTEXT : lit ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT;
  DrawItemText(draw->hDC, record->m_szMenuText.GetString(), draw->rcItem, true, (state & ODS_DEFAULT) != 0,
               GetSysColor(colour));
}

void CNewMenuStyle::DrawTinted(CNewMenu* menu, LPDRAWITEMSTRUCT draw, BOOL barItem) { DrawClassic(menu, draw, barItem); }

void CNewMenuStyle::DrawClassic(CNewMenu* menu, LPDRAWITEMSTRUCT draw, BOOL barItem) {
  CNewMenuGlobalState& global = GetNewMenuGlobalState();
  CNewMenuItemData* record = RecordOf(menu, draw->itemData);
  HDC dc = draw->hDC;
  const RECT item = draw->rcItem;
  UINT state = draw->itemState;
  const bool tinted = m_look == kTinted;
  const bool highContrast = global.m_bHighContrast != FALSE;

  // Colours of the look.
  Palette colours{};
  colours.tinted = tinted;
  const COLORREF M = CNewMenu::GetMenuColor(nullptr);
  if (tinted) {
    colours.background = barItem ? CNewMenu::GetMenuBarColor(nullptr) : M;
    colours.shadow = highContrast ? GetSysColor(COLOR_BTNTEXT) : DarkenColor(60, M);
    colours.hilight = highContrast ? GetSysColor(COLOR_BTNTEXT) : LightenColor(60, M);
  } else {
    colours.background = barItem ? CNewMenu::GetMenuBarColor(nullptr) : GetSysColor(COLOR_MENU);
    colours.shadow = GetSysColor(COLOR_BTNSHADOW);
    colours.hilight = GetSysColor(COLOR_3DHILIGHT);
  }

  // A bar item selected with no popup open was selected by the keyboard: it shows as hot.
  if (barItem && (state & ODS_SELECTED) && menu->m_openPopups == 0) state = (state & ~ODS_SELECTED) | ODS_HOTLIGHT;
  const bool keyboardFrame = DropGrayedSelection(state);
  const bool selected = (state & ODS_SELECTED) != 0;
  const bool hot = (state & ODS_HOTLIGHT) != 0;
  const bool inactive = (state & kOdsInactive) != 0;
  const bool disabled = (state & (ODS_GRAYED | ODS_DISABLED)) != 0;

  // Menu-bar items.
  if (barItem) {
    RECT fill = item;
    if (tinted && (hot || selected) && !inactive && !highContrast) {
      InflateRect(&fill, 1, 0);
      fill.bottom += 1;
      DrawGradient(dc, fill, LightenColor(30, M), DarkenColor(30, M), FALSE, TRUE);
    } else {
      MENUINFO info{};
      info.cbSize = sizeof info;
      info.fMask = MIM_BACKGROUND;
      if (tinted && ::GetMenuInfo(menu->m_hMenu, &info) && info.hbrBack) {
        POINT old;
        SetBrushOrgEx(dc, item.left, item.top, &old);
        FillRect(dc, &item, info.hbrBack);
        SetBrushOrgEx(dc, old.x, old.y, nullptr);
      } else {
        Fill(dc, item, colours.background);
      }
    }
    if (selected || hot) menu->StoreBarItemRect(dc, &item);
    RECT text = item;
    if (selected && !inactive) {
      Draw3dRect(dc, item, colours.shadow, colours.hilight);
      OffsetRect(&text, 1, 1);
    } else if (hot && !inactive) {
      Draw3dRect(dc, item, colours.hilight, colours.shadow);
    }
    if (!record) return;
    DrawItemText(dc, record->m_szMenuText.GetString(), text, true, (state & ODS_DEFAULT) != 0,
                 GetSysColor(disabled || inactive ? COLOR_GRAYTEXT : COLOR_MENUTEXT));
    return;
  }

  // Separators and titles.
  if (record && (record->m_nFlags & MF_SEPARATOR)) {
    if (record->m_nTitleFlags & 1) {
      menu->DrawTitle(draw, barItem);
      return;
    }
    Fill(dc, item, tinted ? colours.hilight : colours.background);
    RECT line = item;
    line.top = (item.top + item.bottom) / 2 + 1;
    if (tinted) line.bottom -= 1;
    DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
    return;
  }

  // Popup items: background, selection, icon or check, text.
  if (tinted) {
    if (highContrast)
      Fill(dc, item, M);
    else
      DrawGradient(dc, item, LightenColor(30, M), DarkenColor(30, M), FALSE, TRUE);
  } else {
    Fill(dc, item, colours.background);
  }
  if (!record) return;
  CNewMenuIcons* icons = record->m_pMenuIcon;
  const bool hasIcon = icons && record->m_nMenuIconOffset >= 0;
  const bool checkImage = !hasIcon && HasCheckImage(menu, state);
  if (selected) {
    RECT fill = item;
    if (hasIcon || checkImage) fill.left += menu->m_iconX + 6;
    const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
    if (tinted) {
      if (highContrast)
        Fill(dc, fill, highlight);
      else
        DrawGradient(dc, fill, LightenColor(30, highlight), DarkenColor(30, highlight), FALSE, TRUE);
      Draw3dRect(dc, fill, colours.shadow, colours.hilight);
    } else {
      Fill(dc, fill, highlight);
    }
  }
  if (keyboardFrame) DrawFocusRect(dc, &item);

  RECT box{item.left + 3, item.top + ((item.bottom - item.top) - menu->m_iconY) / 2, item.left + 3 + menu->m_iconX, 0};
  box.bottom = box.top + menu->m_iconY;
  if (hasIcon) {
    HICON icon = ImageList_GetIcon(icons->m_imageList.m_hImageList, record->m_nMenuIconOffset, 0);
    const CSize size = icons->GetIconSize();
    const int x = box.left + std::max(0, (menu->m_iconX - static_cast<int>(size.cx)) / 2);
    const int y = item.top + ((item.bottom - item.top) - static_cast<int>(size.cy)) / 2;
    if (disabled) {
      if (tinted) {
        HBRUSH brush = CreateSolidBrush(highContrast ? GetSysColor(COLOR_BTNSHADOW) : DarkenColor(70, colours.shadow));
        DrawState(dc, brush, nullptr, reinterpret_cast<LPARAM>(icon), 0, x, y, size.cx, size.cy, DST_ICON | DSS_MONO);
        DeleteObject(brush);
      } else {
        DrawState(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, x, y, size.cx, size.cy,
                  DST_ICON | DSS_DISABLED);
      }
    } else {
      DrawIconEx(dc, x, y, icon, size.cx, size.cy, 0, nullptr, DI_NORMAL);
    }
    if (icon) DestroyIcon(icon);
    RECT frame = box;
    InflateRect(&frame, 2, 2);
    if (state & ODS_CHECKED)
      Draw3dRect(dc, frame, colours.shadow, colours.hilight);
    else if (selected && !disabled)
      Draw3dRect(dc, frame, colours.hilight, colours.shadow);
  } else if (checkImage) {
    ImageList_Draw(menu->m_pCheckMarkImages->m_hImageList, selected ? 1 : 0, dc, item.left + 3, item.top + 4,
                   ILD_TRANSPARENT);
  }
  if (hasIcon || checkImage) {
    if (IsSystemCommand(draw->itemID)) DrawMenuSystemGlyph(dc, box, draw->itemID, state);
  } else {
    const ItemBitmaps bitmaps = BitmapsOf(menu, draw->itemID);
    DrawMenuCheckMark(dc, box, bitmaps.checked, bitmaps.unchecked, state);
  }

  RECT text = item;
  text.left += menu->m_iconX + 12;
  text.right -= 6;
  const std::string label = record->m_szMenuText.GetString();
  const bool bold = (state & ODS_DEFAULT) != 0;
  if (disabled) {
    if (selected) {
      DrawItemText(dc, label, text, false, bold, colours.background);
    } else {
      RECT raised = text;
      OffsetRect(&raised, 1, 1);
      DrawItemText(dc, label, raised, false, bold, GetSysColor(COLOR_3DHILIGHT));
      DrawItemText(dc, label, text, false, bold, GetSysColor(COLOR_GRAYTEXT));
    }
  } else {
    DrawItemText(dc, label, text, false, bold, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT));
  }
}
