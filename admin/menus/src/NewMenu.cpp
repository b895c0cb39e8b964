#include "admin/menus/NewMenu.h"


namespace {

// The drawing styles the library registers: the modes below this value.
constexpr UINT kDrawModeCount = 3;

const mfc::MessageMap* EmptyMap() {
  static const mfc::MessageMap map{nullptr, {}};
  return &map;
}

}  // namespace

const mfc::MessageMap* CMenuHostFrame2::GetMessageEntries() { return EmptyMap(); }
const mfc::MessageMap* CMenuHostFrame3::GetMessageEntries() { return EmptyMap(); }
const mfc::MessageMap* CMenuHostFrame4::GetMessageEntries() { return EmptyMap(); }

// The library's static objects, in the order a program built with it constructs them (and destroys
// them the other way round).
static const mfc::MessageMap* const g_hostFrameLinks[kMenuHostFrameLinkCount] = {
    CMenuHostFrame<CFrameWnd>::GetMessageEntries(), CMenuHostFrame<CWnd>::GetMessageEntries(),
    CMenuHostFrame2::GetMessageEntries(), CMenuHostFrame3::GetMessageEntries(),
    CMenuHostFrame4::GetMessageEntries()};
static const UINT g_windowsVersion = CNewMenu::GetWindowsVersion();
static CNewMenuGlobalState g_globalState;
static CNewMenuWindowMap g_windowMap;

const mfc::MessageMap* const* GetMenuHostFrameLinks() { return g_hostFrameLinks; }
CNewMenuWindowMap& GetNewMenuWindowMap() { return g_windowMap; }

CNewMenuGlobalState::CNewMenuGlobalState() : m_nDrawMode(1) {}
CNewMenuGlobalState::~CNewMenuGlobalState() = default;

CNewMenuBrushCache::~CNewMenuBrushCache() { m_nBrushes = 0; }

CNewMenuBrushCache& CNewMenuBrushCache::Instance() {
  static CNewMenuBrushCache cache;  // destroyed at exit
  return cache;
}

UINT CNewMenu::SetMenuDrawMode(UINT mode) {
  if (mode >= kDrawModeCount) return 0xFFFFFFFF;
  UINT previous = g_globalState.m_nDrawMode;
  g_globalState.m_nDrawMode = mode;
  return previous;
}

UINT CNewMenu::GetWindowsVersion() {
  // This machine reports itself as the newest version the library knows.
  return 7;
}

UINT CNewMenu::GetProgramWindowsVersion() { return g_windowsVersion; }
