#include "MenuPaint.h"

#include "admin/menus/NewMenu.h"

namespace newmenu_paint {

void Fill(HDC dc, const RECT& rect, COLORREF colour) {
  if (rect.right <= rect.left || rect.bottom <= rect.top) return;
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &rect, brush);
  DeleteObject(brush);
}

void Draw3dRect(HDC dc, const RECT& rect, COLORREF topLeft, COLORREF bottomRight) {
  Fill(dc, RECT{rect.left, rect.top, rect.right - 1, rect.top + 1}, topLeft);
  Fill(dc, RECT{rect.left, rect.top, rect.left + 1, rect.bottom - 1}, topLeft);
  Fill(dc, RECT{rect.right - 1, rect.top, rect.right, rect.bottom}, bottomRight);
  Fill(dc, RECT{rect.left, rect.bottom - 1, rect.right, rect.bottom}, bottomRight);
}

void DrawBitmapCentred(HDC dc, const RECT& rect, HBITMAP bitmap, UINT extra) {
  BITMAP info{};
  if (!bitmap || !GetObject(bitmap, sizeof info, &info)) return;
  const int x = rect.left + ((rect.right - rect.left) - info.bmWidth) / 2;
  const int y = rect.top + ((rect.bottom - rect.top) - info.bmHeight) / 2;
  DrawState(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(bitmap), 0, x, y, info.bmWidth, info.bmHeight,
            DST_BITMAP | DSS_MONO | extra);
}

HFONT CreateMenuFont(bool bold) {
  NONCLIENTMETRICS metrics{};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfo(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  LOGFONT font = metrics.lfMenuFont;
  if (bold) font.lfWeight = FW_BOLD;
  return CreateFontIndirect(&font);
}

void DrawItemText(HDC dc, const std::string& text, RECT rect, bool bar, bool bold, COLORREF colour) {
  if (text.empty()) return;
  HFONT font = CreateMenuFont(bold);
  HGDIOBJ oldFont = SelectObject(dc, font);
  const COLORREF oldColour = SetTextColor(dc, colour);
  const int oldMode = SetBkMode(dc, TRANSPARENT);
  if (bar) {
    DrawText(dc, text.c_str(), static_cast<int>(text.size()), &rect, DT_SINGLELINE | DT_VCENTER | DT_CENTER);
  } else {
    const size_t tab = text.find('\t');
    const std::string left = text.substr(0, tab);
    if (!left.empty()) DrawText(dc, left.c_str(), static_cast<int>(left.size()), &rect, DT_SINGLELINE | DT_VCENTER);
    if (tab != std::string::npos) {
      const std::string right = text.substr(tab + 1);
      DrawText(dc, right.c_str(), static_cast<int>(right.size()), &rect, DT_SINGLELINE | DT_VCENTER | DT_RIGHT);
    }
  }
  SetBkMode(dc, oldMode);
  SetTextColor(dc, oldColour);
  SelectObject(dc, oldFont);
  DeleteObject(font);
}

char SystemGlyph(UINT command) {
  switch (command & 0xFFF0) {
    case SC_MINIMIZE: return '0';
    case SC_MAXIMIZE: return '1';
    case SC_CLOSE: return 'r';
    case SC_RESTORE: return '2';
    default: return 0;
  }
}

bool DropGrayedSelection(UINT& state) {
  if (CNewMenu::GetHighlightGrayedItems() || !(state & ODS_GRAYED) || !(state & ODS_SELECTED)) return false;
  state &= ~ODS_SELECTED;
  CNewMenuGlobalState& global = GetNewMenuGlobalState();
  const DWORD pos = GetMessagePos();
  if (pos == global.m_lastMessagePos) return true;
  global.m_lastMessagePos = pos;
  return false;
}

}  // namespace newmenu_paint
