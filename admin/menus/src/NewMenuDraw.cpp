// The drawing styles: measuring and painting owner-drawn items and menu titles, and the glyph painters.
#include <algorithm>
#include <cstring>
#include <string>

#include "MenuPaint.h"
#include "admin/menus/NewMenu.h"
#include "win32/windows.h"

namespace {

using namespace newmenu_paint;

// The warm look's fixed colours.
constexpr COLORREF kWarmSelection = 0xC2EEFF;
constexpr COLORREF kWarmCheckedSelected = 0x3E80FE;
constexpr COLORREF kWarmChecked = 0x6FC0FF;

CNewMenuItemData* RecordOf(const CNewMenu* menu, ULONG_PTR data) {
  for (CNewMenuItemData* record : menu->m_items)
    if (reinterpret_cast<ULONG_PTR>(record) == data) return record;
  // A bar item is measured by its popup's menu: its record is the bar's.
  if (auto* parent = menu->m_hParent ? dynamic_cast<CNewMenu*>(CMenu::FromHandlePermanent(menu->m_hParent)) : nullptr)
    for (CNewMenuItemData* record : parent->m_items)
      if (reinterpret_cast<ULONG_PTR>(record) == data) return record;
  return nullptr;
}

SIZE TextSize(HDC dc, const std::string& text) {
  SIZE size{0, 0};
  GetTextExtentPoint32(dc, text.c_str(), static_cast<int>(text.size()), &size);
  if (text.empty()) {
    TEXTMETRIC metric{};
    GetTextMetrics(dc, &metric);
    size.cy = metric.tmHeight;
  }
  return size;
}

// A rectangle outlined with a pen and no fill.
void Frame(HDC dc, const RECT& rect, COLORREF colour) {
  HPEN pen = CreatePen(PS_SOLID, 0, colour);
  HGDIOBJ oldPen = SelectObject(dc, pen);
  HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(HOLLOW_BRUSH));
  Rectangle(dc, rect.left, rect.top, rect.right, rect.bottom);
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
  DeleteObject(pen);
}

}  // namespace

// Glyphs and bitmaps.
void CNewMenu::DrawMarlettGlyph(HDC dc, RECT rect, char ch, BOOL bold) {
  InflateRect(&rect, -2, -2);
  LOGFONT logFont{};
  logFont.lfHeight = -(rect.bottom - rect.top);
  logFont.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  logFont.lfCharSet = DEFAULT_CHARSET;
  std::strcpy(logFont.lfFaceName, "Marlett");
  HFONT font = CreateFontIndirect(&logFont);
  HGDIOBJ oldFont = SelectObject(dc, font);
  const int oldMode = SetBkMode(dc, TRANSPARENT);
  char text[2] = {ch, 0};
  DrawText(dc, text, 1, &rect, DT_CENTER | DT_SINGLELINE);
  SetBkMode(dc, oldMode);
  SelectObject(dc, oldFont);
  DeleteObject(font);  // made for this one glyph
}

void CNewMenu::DrawFlatSystemGlyph(CNewMenu* menu, HDC dc, RECT rect, UINT command, UINT state) {
  const char glyph = SystemGlyph(command);
  if (!glyph) return;
  const int grow = menu ? (menu->m_iconY - (rect.bottom - rect.top)) / 2 : 0;
  if (grow > 0) InflateRect(&rect, 0, grow);
  const bool bold = (state & ODS_DEFAULT) != 0;
  if (state & ODS_GRAYED) {
    const COLORREF old = SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
    DrawMarlettGlyph(dc, rect, glyph, bold);
    SetTextColor(dc, old);
    return;
  }
  if (state & ODS_SELECTED) {
    RECT shadow = rect;
    OffsetRect(&shadow, 1, 1);
    COLORREF old = SetTextColor(dc, GetDimmedSelectionColor());
    DrawMarlettGlyph(dc, shadow, glyph, bold);
    OffsetRect(&rect, -1, -1);
    SetTextColor(dc, GetSysColor(COLOR_MENUTEXT));
    DrawMarlettGlyph(dc, rect, glyph, bold);
    SetTextColor(dc, old);
    return;
  }
  const COLORREF old = SetTextColor(dc, GetSysColor(COLOR_MENUTEXT));
  DrawMarlettGlyph(dc, rect, glyph, bold);
  SetTextColor(dc, old);
}

BOOL CNewMenu::CreateFramedBitmap(HDC dc, CBitmap& bitmap, CSize size, COLORREF fill, COLORREF frame, DWORD hatch) {
  HBITMAP made = CreateCompatibleBitmap(dc, size.cx, size.cy);
  if (!made) return FALSE;
  HDC memory = CreateCompatibleDC(dc);
  HGDIOBJ oldBitmap = SelectObject(memory, made);
  HPEN pen = CreatePen(PS_SOLID, 1, frame);
  HBRUSH brush = hatch == 0xFFFFFFFF ? CreateSolidBrush(fill) : CreateHatchBrush(static_cast<int>(hatch), fill);
  HGDIOBJ oldPen = SelectObject(memory, pen);
  HGDIOBJ oldBrush = SelectObject(memory, brush);
  Rectangle(memory, 0, 0, size.cx, size.cy);
  SelectObject(memory, oldBrush);
  SelectObject(memory, oldPen);
  SelectObject(memory, oldBitmap);
  // The painting tools go with the painting; only the bitmap is handed out.
  DeleteObject(brush);
  DeleteObject(pen);
  DeleteDC(memory);
  bitmap.DeleteObject();
  return bitmap.Attach(made);
}

// Measuring.
void CNewMenuStyle::MeasureItem(CNewMenu* menu, LPMEASUREITEMSTRUCT measure, BOOL barItem) {
  CNewMenuItemData* record = RecordOf(menu, measure->itemData);
  if (!record) {
    measure->itemWidth = 10;
    measure->itemHeight = static_cast<UINT>(GetSystemMetrics(SM_CYMENU));
    return;
  }
  HDC dc = CreateCompatibleDC(nullptr);  // the screen's metrics, without composing the screen
  if ((record->m_nFlags & MF_SEPARATOR) && (record->m_nTitleFlags & 1)) {
    LOGFONT logFont = GetNewMenuGlobalState().m_titleFont;
    HFONT font = CreateFontIndirect(&logFont);
    HGDIOBJ oldFont = SelectObject(dc, font);
    const SIZE text = TextSize(dc, record->m_szMenuText.GetString());
    SelectObject(dc, oldFont);
    DeleteObject(font);
    if (record->m_nTitleFlags & 2) {
      // A short text must not give a negative width.
      long width = std::max<long>(0, text.cy - GetSystemMetrics(SM_CXMENUCHECK));
      if (record->m_nTitleFlags & 0x10)
        width += 8;
      else if (record->m_nTitleFlags & 0x20)
        width += 4;
      measure->itemWidth = static_cast<UINT>(width);
      measure->itemHeight = 0;
    } else {
      measure->itemWidth = static_cast<UINT>(text.cx);
      measure->itemHeight = static_cast<UINT>(text.cy + ((record->m_nTitleFlags & 0x10) ? 8 : 0));
    }
    DeleteDC(dc);
    return;
  }
  if (record->m_nFlags & MF_SEPARATOR) {
    measure->itemWidth = 3;
    measure->itemHeight = 3;
    DeleteDC(dc);
    return;
  }
  const bool isDefault = ::GetMenuDefaultItem(menu->m_hMenu, FALSE, 0) == record->m_nID;
  HFONT font = CreateMenuFont(isDefault);
  HGDIOBJ oldFont = SelectObject(dc, font);
  std::string text = record->m_szMenuText.GetString();
  const bool wide = m_look == kFlat || m_look == kWarm || m_look == kTinted;
  if (wide) {
    const size_t tab = text.find('\t');
    if (tab != std::string::npos) text.replace(tab, 1, "nnn");
  }
  const SIZE size = TextSize(dc, text);
  SelectObject(dc, oldFont);
  DeleteObject(font);
  DeleteDC(dc);
  const bool amp = text.find('&') != std::string::npos;
  const int cyMenu = GetSystemMetrics(SM_CYMENU);
  long width, height;
  if (m_look == kFlat || m_look == kWarm) {
    width = barItem ? size.cx - (amp ? 6 : 0) : menu->m_iconX + size.cx + 6 + cyMenu / 2;
    height = cyMenu > menu->m_iconY + 8 ? cyMenu : menu->m_iconY + 7;
  } else {
    width = barItem ? size.cx - (amp ? GetSystemMetrics(SM_CXMENUCHECK) / 2 : 0) : size.cx + 2 * menu->m_iconX + 2;
    height = std::max<long>(cyMenu, menu->m_iconY + (m_look == kTinted ? 6 : 4));
  }
  if (IsSystemCommand(record->m_nID)) {
    height = cyMenu;
    // As wide as the first command after it, when that one is wider.
    auto it = std::find(menu->m_items.begin(), menu->m_items.end(), record);
    if (it != menu->m_items.end()) {
      for (++it; it != menu->m_items.end(); ++it) {
        if (!(*it)->m_nID || ((*it)->m_nFlags & MF_SEPARATOR)) continue;
        MEASUREITEMSTRUCT next{ODT_MENU, 0, (*it)->m_nID, 0, 0, reinterpret_cast<ULONG_PTR>(*it)};
        MeasureItem(menu, &next, barItem);
        width = std::max<long>(width, static_cast<long>(next.itemWidth));
        break;
      }
    }
  }
  height = std::max<long>(height, size.cy);
  measure->itemWidth = static_cast<UINT>(std::max<long>(width, 0));
  measure->itemHeight = static_cast<UINT>(height);
}

// Titles.
void CNewMenuStyle::DrawTitle(CNewMenu* menu, LPDRAWITEMSTRUCT draw, BOOL) {
  CNewMenuItemData* record = RecordOf(menu, draw->itemData);
  if (!record) return;
  HDC dc = draw->hDC;
  const UINT flags = record->m_nTitleFlags;
  const bool vertical = (flags & 2) != 0;
  LOGFONT logFont = GetNewMenuGlobalState().m_titleFont;
  if (vertical) logFont.lfEscapement = logFont.lfOrientation = 900;
  HFONT font = CreateFontIndirect(&logFont);
  HGDIOBJ oldFont = SelectObject(dc, font);
  const int oldMode = SetBkMode(dc, TRANSPARENT);
  const COLORREF oldColour = SetTextColor(dc, GetSysColor(COLOR_CAPTIONTEXT));
  const std::string text = record->m_szMenuText.GetString();
  const SIZE size = TextSize(dc, text);
  RECT rect = draw->rcItem;
  if (vertical) {
    RECT clip;
    GetClipBox(dc, &clip);
    rect.top = clip.top;
    rect.bottom = clip.bottom;
    rect.right += GetSystemMetrics(SM_CXMENUCHECK);
  }
  POINT origin = vertical ? POINT{rect.left + 2, rect.bottom - 4} : POINT{rect.left + 2, rect.top};
  const COLORREF back = MixColors86(GetSysColor(COLOR_WINDOW), CNewMenu::GetMenuColor(nullptr));
  if (flags & 4) {
    if (vertical)
      DrawGradient(dc, rect, back, GetSysColor(COLOR_ACTIVECAPTION), FALSE, TRUE);
    else
      DrawGradient(dc, rect, GetSysColor(COLOR_ACTIVECAPTION), back, TRUE, TRUE);
  } else if (flags & 0x20) {
    if (vertical) {
      origin.y -= 2;
      rect.right = rect.left + size.cy + 4;
    } else {
      origin.x += std::min<LONG>(10, ((rect.right - rect.left) - size.cx) / 2);
    }
    HBRUSH brush = CreateSolidBrush(GetSysColor(COLOR_ACTIVECAPTION));
    HGDIOBJ oldBrush = SelectObject(dc, brush);
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(WHITE_PEN));
    RoundRect(dc, rect.left, rect.top, rect.right, rect.bottom, 10, 10);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    DeleteObject(brush);
  } else {
    Fill(dc, rect, GetSysColor(COLOR_ACTIVECAPTION));
  }
  if (flags & 8) Draw3dRect(dc, rect, GetSysColor(COLOR_BTNSHADOW), GetSysColor(COLOR_3DHILIGHT));
  if (flags & 0x40) {
    if (vertical)
      origin.y = rect.bottom - ((rect.bottom - rect.top) - size.cx) / 2;
    else
      origin.x = rect.left + ((rect.right - rect.left) - size.cx) / 2;
  }
  TextOut(dc, origin.x, origin.y, text.c_str(), static_cast<int>(text.size()));
  if (flags & 0x10) {
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW), light = GetSysColor(COLOR_3DHILIGHT);
    if (vertical) {
      Draw3dRect(dc, RECT{rect.left + 20, rect.top + 5, rect.left + 22, rect.bottom - 5}, shadow, light);
      Draw3dRect(dc, RECT{rect.left + 23, rect.top + 15, rect.left + 25, rect.bottom - 15}, shadow, light);
    } else {
      Draw3dRect(dc, RECT{rect.left + 2, rect.bottom - 7, rect.right - 2, rect.bottom - 5}, light, shadow);
      Draw3dRect(dc, RECT{rect.left + 12, rect.bottom - 4, rect.right - 12, rect.bottom - 2}, shadow, light);
    }
  }
  SetTextColor(dc, oldColour);
  SetBkMode(dc, oldMode);
  SelectObject(dc, oldFont);
  DeleteObject(font);
}

// The flat look (and the warm look, which differs in its colours).
void CNewMenuFlatStyle::DrawItem(CNewMenu* menu, LPDRAWITEMSTRUCT draw, BOOL barItem) {
  CNewMenuItemData* record = RecordOf(menu, draw->itemData);
  if (barItem || !record || (record->m_nFlags & MF_SEPARATOR)) {
    DrawFlat(menu, draw, barItem);
    return;
  }
  // Popup items are painted off screen and copied in one go.
  CNewMenuMemDC memory(draw->hDC, draw->rcItem);
  DRAWITEMSTRUCT offScreen = *draw;
  offScreen.hDC = memory.m_hDC;
  DrawFlat(menu, &offScreen, barItem);
}

namespace {

// Fills with the menu's own background brush, lined up with the item, when it has one.
bool FillWithMenuBrush(HDC dc, HMENU menu, const RECT& rect) {
  MENUINFO info{};
  info.cbSize = sizeof info;
  info.fMask = MIM_BACKGROUND;
  if (!::GetMenuInfo(menu, &info) || !info.hbrBack) return false;
  POINT old;
  SetBrushOrgEx(dc, rect.left, rect.top, &old);
  FillRect(dc, &rect, info.hbrBack);
  SetBrushOrgEx(dc, old.x, old.y, nullptr);
  return true;
}

}  // namespace

void CNewMenuFlatStyle::DrawFlat(CNewMenu* menu, LPDRAWITEMSTRUCT draw, BOOL barItem) {
  CNewMenuGlobalState& global = GetNewMenuGlobalState();
  CNewMenuItemData* record = RecordOf(menu, draw->itemData);
  HDC dc = draw->hDC;
  const RECT item = draw->rcItem;
  UINT state = draw->itemState;
  const bool keyboardFrame = DropGrayedSelection(state);
  if (barItem && (state & ODS_SELECTED) && menu->m_openPopups == 0) state = (state & ~ODS_SELECTED) | ODS_HOTLIGHT;
  const bool filledSelected = (state & (ODS_SELECTED | ODS_HOTLIGHT | kOdsInactive)) != 0;
  const bool hot = (state & ODS_HOTLIGHT) != 0;
  const bool inactive = (state & kOdsInactive) != 0;

  const bool warm = GetLook() == kWarm;
  const bool highContrast = global.m_bHighContrast != FALSE;
  const bool manyColours = GetScreenColorCount() > 256;
  const COLORREF W = GetSysColor(COLOR_WINDOW);
  const COLORREF W10 = DarkenColor(10, W);
  const COLORREF M = CNewMenu::GetMenuBarColor(menu->m_hMenu);
  COLORREF T, G;
  if (warm) {
    T = MixColors86(W10, barItem ? CNewMenu::GetMenuBarColor(nullptr) : CNewMenu::GetMenuColor(nullptr));
    G = CNewMenu::GetBlendBarColor();
  } else {
    T = MixColors86(W, M);
    G = manyColours ? MixColors86(M, W) : GetSysColor(COLOR_BTNFACE);
    if (GetNearestColor(dc, T) == GetNearestColor(dc, G)) {
      T = W;
      G = M;
    }
  }
  COLORREF S = warm ? kWarmSelection : GetSelectionColor();
  COLORREF B = highContrast ? GetSysColor(COLOR_BTNTEXT) : GetSysColor(COLOR_HIGHLIGHT);
  if (barItem && !warm) {
    if (!hot) S = G;
    T = M;
  }

  RECT iconColumn = item;
  iconColumn.right = item.left + menu->m_iconX + 8;
  RECT textArea = item;
  textArea.left = iconColumn.right;
  RECT selection = item;
  if (!barItem) {
    if (warm)
      DrawGradient(dc, iconColumn, T, G, TRUE, TRUE);
    else
      Fill(dc, iconColumn, G);
    Fill(dc, textArea, T);
    textArea.left += 4;
    textArea.right -= 15;
  } else {
    selection.right -= 4;
    if (warm && (state & ODS_SELECTED)) {
      if (manyColours)
        DrawGradient(dc, item, T, G, FALSE, TRUE);
      else
        Fill(dc, item, T);
    } else if (!(warm && FillWithMenuBrush(dc, menu->m_hMenu, item))) {
      Fill(dc, item, T);
    }
  }

  // A bar item with its popup open: a darker frame and a shadow in the 4 columns to its right.
  if (barItem && (state & ODS_SELECTED)) {
    B = highContrast ? GetSysColor(COLOR_BTNTEXT) : DarkenColor(128, CNewMenu::GetMenuBarColor(nullptr));
    const COLORREF base = warm ? GetPixel(dc, item.right - 1, item.top) : M;
    const int height = item.bottom - item.top;
    for (int k = 1; k <= 4; ++k) {
      const int x = item.right - k;
      for (int row = 0; row < height; ++row) {
        COLORREF colour = base;
        if (manyColours) {
          if (row >= 4 && row <= 7) colour = DarkenColor(k * 6 * (row - 3), base);
          if (row >= 8) colour = DarkenColor(k * 30, base);
        } else if (k >= 3 && row >= 4) {
          colour = GetSysColor(COLOR_BTNSHADOW);
        }
        SetPixel(dc, x, item.top + row, colour);
      }
    }
  }

  if (filledSelected && !inactive) {
    if (warm && barItem) {
      if (manyColours)
        DrawGradient(dc, selection, W10, kWarmSelection, FALSE, TRUE);
      else
        Fill(dc, selection, W10);
    } else {
      Fill(dc, selection, S);
    }
    Frame(dc, selection, B);
  }
  // Selected as the system asked (also when shown hot because no popup is open yet).
  if (barItem && (draw->itemState & ODS_SELECTED) && !inactive) menu->StoreBarItemRect(dc, &item);
  if (keyboardFrame) {
    Fill(dc, selection, T);
    Frame(dc, selection, B);
  }
  if (!record) return;

  if (record->m_nFlags & MF_SEPARATOR) {
    if (record->m_nTitleFlags & 1) {
      menu->DrawTitle(draw, barItem);
      return;
    }
    RECT line{textArea.left, (item.top + item.bottom) / 2, item.right, (item.top + item.bottom) / 2 + 1};
    Fill(dc, line, GetSysColor(COLOR_GRAYTEXT));
    return;
  }

  COLORREF textColour = GetSysColor(COLOR_MENUTEXT);
  if (state & (ODS_GRAYED | ODS_DISABLED)) textColour = GetSysColor(COLOR_GRAYTEXT);
  else if (barItem && inactive) textColour = GetSysColor(COLOR_GRAYTEXT);
  else if (highContrast && !barItem && !(state & ODS_SELECTED)) textColour = GetSysColor(COLOR_WINDOWTEXT);
  const bool selectedItem = (state & ODS_SELECTED) != 0;

  if (!barItem) {
    const bool checked = (state & ODS_CHECKED) != 0;
    const bool disabled = (state & (ODS_DISABLED | ODS_GRAYED)) != 0;
    RECT box{iconColumn.left + 1, iconColumn.top + 1, iconColumn.right - 2, iconColumn.bottom - 1};
    const COLORREF boxFill = warm ? (selectedItem ? kWarmCheckedSelected : kWarmChecked)
                             : selectedItem ? (manyColours ? MixColors86(S, GetSysColor(COLOR_HIGHLIGHT)) : S)
                                            : MixColors86(G, GetSysColor(COLOR_HIGHLIGHT));
    CNewMenuIcons* icons = record->m_pMenuIcon;
    if (icons && record->m_nMenuIconOffset >= 0) {
      const CSize size = icons->GetIconSize();
      int x = item.left + 3 + (size.cx < menu->m_iconX ? (menu->m_iconX - size.cx) / 2 : 0);
      int y = item.top + ((item.bottom - item.top) - size.cy) / 2;
      if (checked) {
        Fill(dc, box, boxFill);
        Frame(dc, box, B);
      }
      HIMAGELIST list = icons->m_imageList.m_hImageList;
      const int index = record->m_nMenuIconOffset;
      if (disabled) {
        if (CNewMenu::GetIconVariantsMode()) {
          ImageList_Draw(list, index + 2, dc, x, y, ILD_TRANSPARENT);
        } else {
          HICON icon = ImageList_GetIcon(list, index, 0);
          HBRUSH brush = CreateSolidBrush(DarkenColor(70, G));
          DrawState(dc, brush, nullptr, reinterpret_cast<LPARAM>(icon), 0, x, y, size.cx, size.cy, DST_ICON | DSS_MONO);
          DeleteObject(brush);
          if (icon) DestroyIcon(icon);
        }
      } else if (!selectedItem) {
        ImageList_Draw(list, CNewMenu::GetIconVariantsMode() ? index + 1 : index, dc, x, y, ILD_TRANSPARENT);
      } else if (!checked) {
        // Raised: a shadow copy down and right, the icon up and left.
        HICON icon = ImageList_GetIcon(list, index, 0);
        HBRUSH brush = CreateSolidBrush(DimColor(S));
        DrawState(dc, brush, nullptr, reinterpret_cast<LPARAM>(icon), 0, x + 1, y + 1, size.cx, size.cy,
                  DST_ICON | DSS_MONO);
        DeleteObject(brush);
        if (icon) DestroyIcon(icon);
        ImageList_Draw(list, index, dc, x - 1, y - 1, ILD_TRANSPARENT);
      } else {
        ImageList_Draw(list, index, dc, x, y, ILD_TRANSPARENT);
      }
    } else if (checked && menu->m_pCheckMarkImages &&
               (selectedItem ? (static_cast<int>(menu->m_selectedCheckId) > 0 || static_cast<int>(menu->m_normalCheckId) > 0)
                             : static_cast<int>(menu->m_normalCheckId) > 0)) {
      ImageList_Draw(menu->m_pCheckMarkImages->m_hImageList, selectedItem ? 1 : 0, dc, item.left + 3, item.top + 4,
                     ILD_TRANSPARENT);
    } else {
      MENUITEMINFO info{};
      info.cbSize = sizeof info;
      info.fMask = MIIM_CHECKMARKS | MIIM_FTYPE;
      ::GetMenuItemInfo(menu->m_hMenu, draw->itemID, FALSE, &info);
      if (checked || info.hbmpUnchecked) {
        Fill(dc, box, boxFill);
        Frame(dc, box, B);
        RECT glyph = iconColumn;
        const int grow = ((menu->m_iconY - (item.bottom - item.top)) >> 1) + 2;
        InflateRect(&glyph, 2, grow);
        if (!checked) {
          DrawBitmapCentred(dc, glyph, info.hbmpUnchecked, disabled ? DSS_DISABLED : 0);
        } else if (info.hbmpChecked && info.hbmpUnchecked) {
          DrawBitmapCentred(dc, glyph, info.hbmpChecked, 0);
        } else {
          const COLORREF old = SetTextColor(dc, textColour);
          const bool bullet = info.hbmpChecked || (info.fType & MFT_RADIOCHECK);
          CNewMenu::DrawMarlettGlyph(dc, glyph, bullet ? 'i' : 'b', FALSE);
          SetTextColor(dc, old);
        }
      } else if (IsSystemCommand(draw->itemID)) {
        CNewMenu::DrawFlatSystemGlyph(menu, dc, iconColumn, draw->itemID, state);
      }
    }
  }
  DrawItemText(dc, record->m_szMenuText.GetString(), barItem ? selection : textArea, barItem != FALSE,
               (state & ODS_DEFAULT) != 0, textColour);
}
