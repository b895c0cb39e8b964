// The owned-drawn menu library: the operations and static objects the application uses at start-up
// and exit. The drawing itself comes with the menus; these are the entry points callers rely on.
#pragma once
#include "mfc/mfc.h"

class CNewMenu {
 public:
  // Makes the drawing style registered for mode the global one; the previous mode, or 0xFFFFFFFF
  // (global style unchanged) when no style is registered for mode.
  static UINT SetMenuDrawMode(UINT mode);
  // A small code (0 to 7) of the running Windows version.
  static UINT GetWindowsVersion();
  // The Windows version code, set once by a static initialiser of the library.
  static UINT GetProgramWindowsVersion();
};

// The library's global state (the current drawing style).
class CNewMenuGlobalState {
 public:
  CNewMenuGlobalState();
  ~CNewMenuGlobalState();
  UINT m_nDrawMode;
};

// The cache of the brushes the menus paint with; the library makes one on first use and frees it at exit.
class CNewMenuBrushCache {
 public:
  ~CNewMenuBrushCache();
  static CNewMenuBrushCache& Instance();
  int GetCount() const { return m_nBrushes; }

 private:
  CNewMenuBrushCache() = default;
  int m_nBrushes = 0;
};

// The menu windows' hook records, by window handle.
class CNewMenuWindowMap {
 public:
  CNewMenuWindowMap() : m_map(10) {}
  ~CNewMenuWindowMap() { m_map.RemoveAll(); }
  CMapPtrToPtr m_map;
};
CNewMenuWindowMap& GetNewMenuWindowMap();

// The library's frame template: a window class with the menu handling added to its message map.
template <class TBase>
class CMenuHostFrame : public TBase {
 public:
  static const mfc::MessageMap* GetMessageEntries() {
    static const mfc::MessageMap map{nullptr, {}};
    return &map;
  }
};

class CMenuHostFrame2 : public CMenuHostFrame<CFrameWnd> {
 public:
  static const mfc::MessageMap* GetMessageEntries();
};
class CMenuHostFrame3 : public CMenuHostFrame<CFrameWnd> {
 public:
  static const mfc::MessageMap* GetMessageEntries();
};
class CMenuHostFrame4 : public CMenuHostFrame<CFrameWnd> {
 public:
  static const mfc::MessageMap* GetMessageEntries();
};

// The base links of the frame template's instantiations, stored by static initialisers.
const mfc::MessageMap* const* GetMenuHostFrameLinks();
constexpr int kMenuHostFrameLinkCount = 5;
