#include "admin/menus/NewMenu.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <utility>
#include <set>
#include <string>

#include "win32/osversion.h"
#include "win32/windows.h"

namespace {

// Set once the global state has gone at exit: icon sets are deleted then, and later releases are no-ops.
bool g_stateGone = false;

constexpr char kOldMenuProc[] = "OldMenuProc";

void TakePendingPopup(CNewMenuWindowRecord* record) {
  CNewMenuGlobalState& state = GetNewMenuGlobalState();
  record->popup = state.m_pPendingPopup;
  record->menu = state.m_hPendingPopup ? state.m_hPendingPopup
                                       : (state.m_pPendingPopup ? state.m_pPendingPopup->m_hMenu : nullptr);
  record->draw = state.m_pPendingPopup || state.m_bSubclassAllMenus;
}

void AttachMenuWindow(HWND hwnd, UINT message) {
  CNewMenuGlobalState& state = GetNewMenuGlobalState();
  CNewMenuWindowMap& map = GetNewMenuWindowMap();
  if (!FindMenuWindowRecord(hwnd)) {
    const LONG_PTR proc = GetWindowLongPtr(hwnd, GWLP_WNDPROC);
    if (proc && !GetProp(hwnd, kOldMenuProc)) {
      if (!SetProp(hwnd, kOldMenuProc, reinterpret_cast<HANDLE>(proc))) CNewMenuGlobalState::ShowLastError();
      if (reinterpret_cast<LONG_PTR>(GetProp(hwnd, kOldMenuProc)) == proc) {
        GlobalAddAtom(kOldMenuProc);
        auto* record = new CNewMenuWindowRecord;
        record->hwnd = hwnd;
        record->style = static_cast<DWORD>(GetWindowLongPtr(hwnd, GWL_STYLE));
        record->exStyle = static_cast<DWORD>(GetWindowLongPtr(hwnd, GWL_EXSTYLE));
        if (message == 0x01E2) record->flags |= CNewMenuWindowRecord::kMadeOnSize;
        TakePendingPopup(record);
        map.m_map.SetAt(hwnd, record);
        SetWindowLongPtr(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&NewMenuWindowProc));
        if (state.m_pCurrentStyle) state.m_pCurrentStyle->PrepareWindow(hwnd);
      }
    }
  }
  if ((state.m_pPendingPopup || state.m_hPendingPopup) && FindMenuWindowRecord(hwnd)) {
    TakePendingPopup(FindMenuWindowRecord(hwnd));
    state.m_pPendingPopup = nullptr;
    state.m_hPendingPopup = nullptr;
    if (state.m_pCurrentStyle) state.m_pCurrentStyle->PrepareWindow(hwnd);
  }
}

LRESULT CALLBACK NewMenuHook(int code, WPARAM wParam, LPARAM lParam) {
  auto* call = reinterpret_cast<CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && call && (call->message == WM_CREATE || call->message == 0x01E2)) {
    char name[32] = {};
    GetClassName(call->hwnd, name, sizeof name);
    if (std::string(name) == kPopupMenuClass)
      AttachMenuWindow(call->hwnd, call->message);
    else if ((GetNewMenuGlobalState().m_dwDialogOptions & 1) && call->message == WM_CREATE &&
             std::string(name) == "#32770" && !CNewMenuTempHandler::FromWindow(call->hwnd))
      new CNewMenuTempHandler(call->hwnd);  // deletes itself at WM_DESTROY
  }
  return CallNextHookEx(GetNewMenuGlobalState().m_hHook, code, wParam, lParam);
}

// Timer identifiers the library handed out, by window (SetTimer would silently take one in use).
std::map<HWND, std::set<UINT>>& TakenTimers() {
  static auto* timers = new std::map<HWND, std::set<UINT>>;
  return *timers;
}

int Channel(long value) { return static_cast<int>(std::clamp<long>(value, 0, 255)); }

}  // namespace

// The library's static objects, in the order a program built with it constructs them (and destroys
// them the other way round).
static const mfc::MessageMap* const g_hostFrameLinks[kMenuHostFrameLinkCount] = {
    CMenuHostFrame<CFrameWnd>::GetMessageEntries(), CMenuHostFrame<CDialog>::GetMessageEntries(),
    CMenuHostFrame<CMiniDockFrameWnd>::GetMessageEntries(), CMenuHostFrame<CMiniFrameWnd>::GetMessageEntries(),
    CMenuHostFrame<CMDIChildWnd>::GetMessageEntries()};
static const UINT g_windowsVersion = CNewMenu::GetWindowsVersion();
static CNewMenuGlobalState g_globalState;
static CNewMenuWindowMap g_windowMap;

const mfc::MessageMap* const* GetMenuHostFrameLinks() { return g_hostFrameLinks; }

CNewMenuWindowRecord* FindMenuWindowRecord(HWND hwnd) {
  void* value = nullptr;
  return g_windowMap.m_map.Lookup(hwnd, value) ? static_cast<CNewMenuWindowRecord*>(value) : nullptr;
}

void DetachMenuWindow(HWND hwnd) {
  if (auto old = reinterpret_cast<LONG_PTR>(GetProp(hwnd, kOldMenuProc)))
    if (!SetWindowLongPtr(hwnd, GWLP_WNDPROC, old)) CNewMenuGlobalState::ShowLastError();
  RemoveProp(hwnd, kOldMenuProc);
  if (ATOM atom = GlobalFindAtom(kOldMenuProc)) GlobalDeleteAtom(atom);
  if (CNewMenuWindowRecord* record = FindMenuWindowRecord(hwnd)) {
    if (CNewMenuStyle* style = g_globalState.m_pCurrentStyle) style->ReleaseWindow(hwnd);
    g_windowMap.m_map.RemoveKey(hwnd);
    delete record;
  }
}
CNewMenuWindowMap& GetNewMenuWindowMap() { return g_windowMap; }
CNewMenuGlobalState& GetNewMenuGlobalState() { return g_globalState; }

// Colours.
COLORREF DarkenColor(long amount, COLORREF c) {
  return RGB(Channel(GetRValue(c) * (255 - amount) / 255), Channel(GetGValue(c) * (255 - amount) / 255),
             Channel(GetBValue(c) * (255 - amount) / 255));
}
COLORREF LightenColor(long amount, COLORREF c) {
  auto up = [&](long v) { return Channel(v + (255 - v) * amount / 255); };
  return RGB(up(GetRValue(c)), up(GetGValue(c)), up(GetBValue(c)));
}
COLORREF BrightenColor(long amount, COLORREF c) {
  return RGB(Channel(GetRValue(c) + amount), Channel(GetGValue(c) + amount), Channel(GetBValue(c) + amount));
}
COLORREF DimColor(COLORREF c) {
  return RGB(Channel(GetRValue(c) * 7 / 10), Channel(GetGValue(c) * 7 / 10), Channel((GetBValue(c) + 55) * 7 / 10));
}
COLORREF MixColors86(COLORREF a, COLORREF b) {
  auto mix = [](long x, long y) { return Channel((x * 86 + y * 14) / 100); };
  return RGB(mix(GetRValue(a), GetRValue(b)), mix(GetGValue(a), GetGValue(b)), mix(GetBValue(a), GetBValue(b)));
}
COLORREF MixColors70(COLORREF a, COLORREF b) {
  auto mix = [](long x, long y) { return Channel((x * 70 + y * 30) / 100); };
  return RGB(mix(GetRValue(a), GetRValue(b)), mix(GetGValue(a), GetGValue(b)), mix(GetBValue(a), GetBValue(b)));
}
COLORREF GrayColor(COLORREF c) {
  const int mean = (GetRValue(c) + GetGValue(c) + GetBValue(c)) / 3;
  return RGB(mean, mean, mean);
}
BOOL IsLightColor(COLORREF c) { return GetRValue(c) + GetGValue(c) + GetBValue(c) > 384; }

int GetScreenColorCount() {
  static int count = [] {
    HDC dc = GetDC(nullptr);
    int n = GetDeviceCaps(dc, NUMCOLORS);
    ReleaseDC(nullptr, dc);
    return n == -1 ? 64000 : n;
  }();
  return count;
}

COLORREF GetSelectionColor() {
  if (g_globalState.m_bHighContrast) return GetSysColor(COLOR_HIGHLIGHT);
  if (GetScreenColorCount() > 256) return MixColors70(GetSysColor(COLOR_WINDOW), GetSysColor(COLOR_HIGHLIGHT));
  return GetSysColor(COLOR_WINDOW);
}
COLORREF GetDimmedSelectionColor() { return DimColor(GetSelectionColor()); }

void DrawGradient(HDC dc, const RECT& rect, COLORREF start, COLORREF end, BOOL horizontal, BOOL palette) {
  // The palette counts only on a screen that reports a colour count.
  if (palette) {
    HDC screen = GetDC(nullptr);
    palette = GetDeviceCaps(screen, NUMCOLORS) != -1;
    ReleaseDC(nullptr, screen);
  }
  if (auto fill = g_globalState.m_pfnGradientFill; fill && !palette) {
    TRIVERTEX corners[2] = {
        {rect.left, rect.top, static_cast<USHORT>(GetRValue(start) << 8), static_cast<USHORT>(GetGValue(start) << 8),
         static_cast<USHORT>(GetBValue(start) << 8), 0},
        {rect.right, rect.bottom, static_cast<USHORT>(GetRValue(end) << 8), static_cast<USHORT>(GetGValue(end) << 8),
         static_cast<USHORT>(GetBValue(end) << 8), 0}};
    GRADIENT_RECT mesh{0, 1};
    fill(dc, corners, 2, &mesh, 1, horizontal ? GRADIENT_FILL_RECT_H : GRADIENT_FILL_RECT_V);
    return;
  }
  // Without the gradient entry point: the end colour, then bands of 2 pixels.
  HBRUSH endBrush = CreateSolidBrush(end);
  FillRect(dc, &rect, endBrush);
  DeleteObject(endBrush);
  const int length = horizontal ? rect.right - rect.left : rect.bottom - rect.top;
  for (int pos = 0; pos < length; pos += 2) {
    const int span = std::max(length - 2, 1);
    auto lerp = [&](int a, int b) { return a + MulDiv(b - a, pos, span); };
    COLORREF colour = RGB(Channel(lerp(GetRValue(start), GetRValue(end))),
                          Channel(lerp(GetGValue(start), GetGValue(end))),
                          Channel(lerp(GetBValue(start), GetBValue(end))));
    if (palette) colour = GetNearestColor(dc, colour);
    RECT band = rect;
    if (horizontal) {
      band.left = rect.left + pos;
      band.right = std::min<LONG>(band.left + 2, rect.right);
    } else {
      band.top = rect.top + pos;
      band.bottom = std::min<LONG>(band.top + 2, rect.bottom);
    }
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &band, brush);
    DeleteObject(brush);
  }
}

// Global state.
CNewMenuGlobalState::CNewMenuGlobalState() {
  if (CNewMenu::GetWindowsVersion() >= 6 && GetSystemMetrics(SM_REMOTESESSION)) m_bRemoteSession = TRUE;
  HIGHCONTRAST contrast{};
  contrast.cbSize = sizeof contrast;
  if (SystemParametersInfo(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0))
    m_bHighContrast = (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
  m_titleFont.lfHeight = 16;
  m_titleFont.lfWeight = FW_BOLD;
  m_titleFont.lfCharSet = DEFAULT_CHARSET;
  std::strcpy(m_titleFont.lfFaceName, "Arial");
  using L = CNewMenuStyle;
  RegisterStyle(new CNewMenuStyle(6, L::kTinted, TRUE));
  RegisterStyle(new CNewMenuStyle(7, L::kTinted, FALSE));
  RegisterStyle(new CNewMenuStyle(0, L::kClassic, TRUE));
  RegisterStyle(new CNewMenuStyle(1, L::kClassic, FALSE));
  RegisterStyle(new CNewMenuFlatStyle(2, L::kFlat, TRUE));
  RegisterStyle(new CNewMenuFlatStyle(3, L::kFlat, FALSE));
  RegisterStyle(new CNewMenuFlatStyle(8, L::kWarm, TRUE));
  RegisterStyle(new CNewMenuFlatStyle(9, L::kWarm, FALSE));
  RegisterStyle(new CNewMenuStyle(4, L::kHighlightedBar, TRUE));
  RegisterStyle(new CNewMenuStyle(5, L::kHighlightedBar, FALSE));
  LoadLibraries();
  m_pCurrentStyle = FindStyle(2);
  m_hHook = SetWindowsHookEx(WH_CALLWNDPROC, NewMenuHook, nullptr, GetCurrentThreadId());
  if (!m_hHook) {
    ShowLastError();
    throw std::bad_alloc();  // the memory exception of the framework
  }
}

CNewMenuGlobalState::~CNewMenuGlobalState() {
  if (m_hHook && !UnhookWindowsHookEx(m_hHook)) ShowLastError();
  m_hHook = nullptr;
  for (CNewMenuStyle* style : m_styles) delete style;
  m_styles.clear();
  m_pCurrentStyle = nullptr;
  FreeLibraries();
  // The icon sets still listed are freed with the list.
  g_stateGone = true;
  std::vector<CNewMenuIcons*> sets;
  sets.swap(m_iconSets);
  for (CNewMenuIcons* set : sets) delete set;
}

void CNewMenuGlobalState::LoadLibraries() {
  FreeLibraries();
  if ((m_hThemeLibrary = LoadLibrary("uxtheme.dll"))) {
    m_pfnIsThemeActive = reinterpret_cast<BOOL (*)()>(GetProcAddress(m_hThemeLibrary, "IsThemeActive"));
    m_pfnSetWindowTheme = reinterpret_cast<LONG (*)(HWND, const WCHAR*, const WCHAR*)>(
        GetProcAddress(m_hThemeLibrary, "SetWindowTheme"));
  }
  if ((m_hGradientLibrary = LoadLibrary("Msimg32.dll")) && CNewMenu::GetWindowsVersion() != 3)  // not on Windows 98
    m_pfnGradientFill = reinterpret_cast<BOOL (*)(HDC, PTRIVERTEX, ULONG, PVOID, ULONG, ULONG)>(
        GetProcAddress(m_hGradientLibrary, "GradientFill"));
}

void CNewMenuGlobalState::FreeLibraries() {
  m_pfnIsThemeActive = nullptr;
  m_pfnSetWindowTheme = nullptr;
  m_pfnGradientFill = nullptr;
  if (m_hThemeLibrary) FreeLibrary(m_hThemeLibrary);
  if (m_hGradientLibrary) FreeLibrary(m_hGradientLibrary);
  m_hThemeLibrary = m_hGradientLibrary = nullptr;
}

void CNewMenuGlobalState::RegisterStyle(CNewMenuStyle* style) {
  if (std::find(m_styles.begin(), m_styles.end(), style) == m_styles.end()) m_styles.push_back(style);
}

CNewMenuStyle* CNewMenuGlobalState::FindStyle(UINT id) const {
  for (CNewMenuStyle* style : m_styles)
    if (style->GetId() == id) return style;
  return nullptr;
}

CNewMenuStyle* CNewMenuGlobalState::UnregisterStyle(UINT id) {
  auto it = std::find_if(m_styles.begin(), m_styles.end(), [&](CNewMenuStyle* s) { return s->GetId() == id; });
  if (it == m_styles.end()) return nullptr;
  CNewMenuStyle* style = *it;
  m_styles.erase(it);
  if (m_pCurrentStyle == style) m_pCurrentStyle = nullptr;
  return style;
}

UINT CNewMenuGlobalState::SetFreeTimer(HWND hwnd, UINT milliseconds) {
  if (!IsWindow(hwnd)) return 0;
  std::set<UINT>& taken = TakenTimers()[hwnd];
  for (UINT id = 31; id <= 99; ++id) {
    if (taken.count(id)) continue;
    if (SetTimer(hwnd, id, milliseconds, nullptr)) {
      taken.insert(id);
      return id;
    }
  }
  return 0;
}

void CNewMenuGlobalState::KillFreeTimer(HWND hwnd, UINT id) {
  if (!id) return;
  KillTimer(hwnd, id);
  auto it = TakenTimers().find(hwnd);
  if (it == TakenTimers().end()) return;
  it->second.erase(id);
  if (it->second.empty()) TakenTimers().erase(it);
}

void CNewMenuGlobalState::ShowLastError() {
  const DWORD error = GetLastError();
  if (!error) return;
  char text[512] = {};
  if (!FormatMessage(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, error, 0, text, sizeof text, nullptr)) {
    std::snprintf(text, sizeof text, "Error message 0x%lx not found", static_cast<unsigned long>(error));
  }
  MessageBox(nullptr, text, "Error", MB_ICONINFORMATION);
}

// Brush cache.
CNewMenuBrushCache::~CNewMenuBrushCache() {
  for (Entry& entry : m_brushes) DeleteObject(entry.brush);
  m_brushes.clear();
}

CNewMenuBrushCache& CNewMenuBrushCache::Instance() {
  static CNewMenuBrushCache cache;  // destroyed at exit
  return cache;
}

HBRUSH CNewMenuBrushCache::GetBrush(int kind, COLORREF colour) {
  if (m_last < m_brushes.size() && m_brushes[m_last].kind == kind && m_brushes[m_last].colour == colour)
    return m_brushes[m_last].brush;
  for (size_t i = 0; i < m_brushes.size(); ++i)
    if (m_brushes[i].kind == kind && m_brushes[i].colour == colour) {
      m_last = i;
      return m_brushes[i].brush;
    }
  m_brushes.push_back({kind, colour, kind == 8 ? CreateMenuPatternBrush(colour) : CreateSolidBrush(colour)});
  m_last = m_brushes.size() - 1;
  return m_brushes.back().brush;
}

// Icon set and item record lifetimes.
int CNewMenuIcons::AddRef() { return ++m_nRef; }

int CNewMenuIcons::Release() {
  if (g_stateGone) return 0;
  const int count = --m_nRef;
  if (count <= 0) {
    auto& sets = g_globalState.m_iconSets;
    sets.erase(std::remove(sets.begin(), sets.end(), this), sets.end());
    delete this;
  }
  return count;
}

CNewMenuIcons::~CNewMenuIcons() = default;

CNewMenuItemData::~CNewMenuItemData() { SetIcons(nullptr); }

void CNewMenuItemData::SetIcons(CNewMenuIcons* icons) {
  if (icons) icons->AddRef();
  if (m_pMenuIcon) m_pMenuIcon->Release();
  m_pMenuIcon = icons;
}

// Static operations of CNewMenu.
UINT CNewMenu::SetMenuDrawMode(UINT mode) {
  CNewMenuStyle* style = g_globalState.FindStyle(mode);
  if (!style) return 0xFFFFFFFF;
  const UINT previous = g_globalState.m_pCurrentStyle ? g_globalState.m_pCurrentStyle->GetId() : 0xFFFFFFFF;
  g_globalState.m_pCurrentStyle = style;
  return previous;
}

UINT CNewMenu::GetMenuDrawMode() { return g_globalState.m_pCurrentStyle->GetId(); }

UINT CNewMenu::GetWindowsVersion() {
  const DWORD version = ::GetVersion();
  OSVERSIONINFO info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (!(version & 0x80000000)) {  // the NT family
    ::GetVersionEx(&info);
    if (info.dwMajorVersion == 4) return 5;
    if (info.dwMajorVersion == 5 && info.dwMinorVersion == 0) return 6;
    if (info.dwMajorVersion < 4) return 1;
    return 7;
  }
  if ((version & 0xFF) < 4) return 0;
  ::GetVersionEx(&info);
  if (info.dwMajorVersion == 4 && info.dwMinorVersion == 10) return 3;
  if (info.dwMajorVersion == 4 && info.dwMinorVersion == 90) return 4;
  return 2;
}

UINT CNewMenu::GetProgramWindowsVersion() { return g_windowsVersion; }

BOOL CNewMenu::SetHighlightGrayedItems(BOOL on) { return std::exchange(g_globalState.m_bHighlightGrayed, on); }
BOOL CNewMenu::GetHighlightGrayedItems() { return g_globalState.m_bHighlightGrayed; }
BOOL CNewMenu::SetIconVariantsMode(BOOL on) { return std::exchange(g_globalState.m_bIconVariants, on); }
BOOL CNewMenu::GetIconVariantsMode() { return g_globalState.m_bIconVariants; }
BOOL CNewMenu::SetSubclassAllMenuWindows(BOOL on) { return std::exchange(g_globalState.m_bSubclassAllMenus, on); }
BOOL CNewMenu::GetSubclassAllMenuWindows() { return g_globalState.m_bSubclassAllMenus; }
void CNewMenu::SetMenuTitleFont(const LOGFONT* font) {
  if (font) g_globalState.m_titleFont = *font;
}
void CNewMenu::GetMenuTitleFont(LOGFONT* font) {
  if (font) *font = g_globalState.m_titleFont;
}

BOOL CNewMenu::RefreshIconColors() {
  const DWORD now = GetTickCount();
  if (g_globalState.m_bColorRefreshed && now - g_globalState.m_dwLastColorRefresh <= 2000) return FALSE;
  g_globalState.m_bColorRefreshed = TRUE;
  g_globalState.m_dwLastColorRefresh = now;
  for (CNewMenuIcons* set : std::vector<CNewMenuIcons*>(g_globalState.m_iconSets)) set->RefreshColors();
  return TRUE;
}

namespace {

// The menu's MENUINFO brush colour, else on Windows XP or later COLOR_MENUBAR when `bar` holds, else COLOR_MENU.
COLORREF MenuColor(HMENU menu, bool bar) {
  if (menu) {
    MENUINFO info{};
    info.cbSize = sizeof info;
    info.fMask = MIM_BACKGROUND;
    LOGBRUSH logBrush{};
    if (::GetMenuInfo(menu, &info) && info.hbrBack && GetObject(info.hbrBack, sizeof logBrush, &logBrush))
      return logBrush.lbColor;
  }
  BOOL flat = FALSE;
  if (CNewMenu::GetWindowsVersion() >= 7 && ((SystemParametersInfo(SPI_GETFLATMENU, 0, &flat, 0) && flat) || bar))
    return GetSysColor(COLOR_MENUBAR);
  return GetSysColor(COLOR_MENU);
}

}  // namespace

COLORREF CNewMenu::GetMenuColor(HMENU menu) { return MenuColor(menu, false); }

COLORREF CNewMenu::GetMenuBarColor(HMENU menu) {
  // A bar follows an active visual style.
  auto themed = g_globalState.m_pfnIsThemeActive;
  return MenuColor(menu, themed && themed());
}

COLORREF CNewMenu::GetFaceColor() {
  const UINT v = GetWindowsVersion();
  return GetSysColor(v == 2 || v == 5 ? COLOR_MENU : COLOR_BTNFACE);
}

COLORREF CNewMenu::GetBlendBarColor() {
  const UINT v = GetWindowsVersion();
  if (v == 2 || v == 5) return GetSysColor(COLOR_MENU);
  COLORREF colour = MixColors70(DarkenColor(10, GetSysColor(COLOR_WINDOW)), GetSysColor(COLOR_ACTIVECAPTION));
  HDC dc = CreateCompatibleDC(nullptr);  // the screen's colours, without composing the screen
  colour = GetNearestColor(dc, colour);
  DeleteDC(dc);
  if (colour == 0xF0C5AC) return 0xF5C2A3;
  if (colour == 0xE6E6E6) return 0xE5D7D7;
  if (colour == 0xCCDCD6) return 0xAADADA;
  return colour;
}
