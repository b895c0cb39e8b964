// The owner-drawn menu library: menus whose items are painted by a library-wide drawing style, carry
// icons taken from toolbar bitmaps and own their item records; the global state that holds the styles,
// the options and the hook that catches popup menu windows; and the frame template that hosts the menus.
#pragma once
#include <functional>
#include <vector>

#include "mfc/mfc.h"

class CNewMenu;
class CNewMenuIcons;

// Colour arithmetic shared by the drawing styles (every channel kept within 0..255).
COLORREF DarkenColor(long amount, COLORREF colour);
COLORREF LightenColor(long amount, COLORREF colour);
COLORREF BrightenColor(long amount, COLORREF colour);
COLORREF DimColor(COLORREF colour);
COLORREF MixColors86(COLORREF a, COLORREF b);
COLORREF MixColors70(COLORREF a, COLORREF b);
COLORREF GrayColor(COLORREF colour);
BOOL IsLightColor(COLORREF colour);
// The selection fill and its dimmed form.
COLORREF GetSelectionColor();
COLORREF GetDimmedSelectionColor();
// The number of screen colours (NUMCOLORS; -1 counts as 64000).
int GetScreenColorCount();
// Fills a rectangle from one colour to another (2-pixel bands when no gradient entry point is present).
void DrawGradient(HDC dc, const RECT& rect, COLORREF start, COLORREF end, BOOL horizontal, BOOL palette);
// A pattern brush of a bar-wide gradient from the colour to the colour lightened by 110 (the warm look's
// menu background).
HBRUSH CreateMenuPatternBrush(COLORREF colour);

struct CNewMenuWindowRecord;

// One drawing style: an identifier, whether popups get a painted border, the look's routines, and the
// painter of the popup windows' frames and shadows.
class CNewMenuStyle {
 public:
  enum Look { kClassic, kFlat, kHighlightedBar, kTinted, kWarm };
  CNewMenuStyle(UINT id, Look look, BOOL bordered);
  virtual ~CNewMenuStyle() = default;
  UINT GetId() const { return m_nId; }
  Look GetLook() const { return m_look; }
  BOOL IsBordered() const { return m_bBordered; }

  virtual void MeasureItem(CNewMenu* menu, LPMEASUREITEMSTRUCT measure, BOOL barItem);
  virtual void DrawItem(CNewMenu* menu, LPDRAWITEMSTRUCT draw, BOOL barItem);
  void DrawTitle(CNewMenu* menu, LPDRAWITEMSTRUCT draw, BOOL barItem);

  // Popup menu windows.
  // Takes the system border off a window the style paints itself; whether it did.
  virtual BOOL PrepareWindow(HWND hwnd);
  // Gives the popup its tear-down and puts the window's styles back.
  virtual BOOL ReleaseWindow(HWND hwnd);
  // Phase 0 before the window's own frame painting, 1 after it.
  virtual BOOL PaintFrame(HWND hwnd, HDC dc, int phase);
  virtual BOOL EraseBackground(HWND hwnd, HDC dc);
  // Narrows the proposed client rectangle by the border and shadow reserve; FALSE: the window's own
  // procedure still runs.
  virtual BOOL CalcSize(HWND hwnd, NCCALCSIZE_PARAMS* params);
  virtual BOOL PositionChanging(HWND hwnd, WINDOWPOS* pos);
  // The window rectangle less the border and shadow (screen coordinates).
  virtual BOOL GetFrameInnerRect(HWND hwnd, RECT* rect);

  // Copies the screen beneath the window (plus 10 pixels right and below) once.
  void SaveBackground(CNewMenuWindowRecord* record, HWND hwnd, HDC dc);

  SIZE m_borderTopLeft{2, 2};
  SIZE m_borderBottomRight{2, 2};

 protected:
  void DrawClassic(CNewMenu* menu, LPDRAWITEMSTRUCT draw, BOOL barItem);
  void DrawHighlightedBar(CNewMenu* menu, LPDRAWITEMSTRUCT draw, BOOL barItem);
  void DrawTinted(CNewMenu* menu, LPDRAWITEMSTRUCT draw, BOOL barItem);
  // Fills the strips between two rectangles; the inner one's right edge first moves one pixel left.
  static void FillRing(HDC dc, const RECT& outer, RECT& inner, COLORREF colour);
  // The shadow on the right and bottom edges, from the saved background.
  void PaintSoftShadow(CNewMenuWindowRecord* record, HDC dc, int width, int height);
  // Opens the border towards the menu-bar item the popup hangs from.
  void JoinToBarItem(CNewMenuWindowRecord* record, HWND hwnd, HDC dc);

 private:
  UINT m_nId;
  Look m_look;
  BOOL m_bBordered;
};

class CNewMenuFlatStyle : public CNewMenuStyle {
 public:
  using CNewMenuStyle::CNewMenuStyle;
  void DrawItem(CNewMenu* menu, LPDRAWITEMSTRUCT draw, BOOL barItem) override;
  BOOL PaintFrame(HWND hwnd, HDC dc, int phase) override;
  BOOL EraseBackground(HWND hwnd, HDC dc) override;

 private:
  void DrawFlat(CNewMenu* menu, LPDRAWITEMSTRUCT draw, BOOL barItem);
};

// Whether the system draws drop shadows under menus (0 when the query fails).
BOOL GetMenuDropShadow();

// What every menu of the library shares; one object made by static initialisation.
class CNewMenuGlobalState {
 public:
  CNewMenuGlobalState();
  ~CNewMenuGlobalState();
  CNewMenuGlobalState(const CNewMenuGlobalState&) = delete;
  CNewMenuGlobalState& operator=(const CNewMenuGlobalState&) = delete;

  // Adds a style unless that object is listed already.
  void RegisterStyle(CNewMenuStyle* style);
  CNewMenuStyle* FindStyle(UINT id) const;
  // Takes the style out of the registry (not deleted).
  CNewMenuStyle* UnregisterStyle(UINT id);
  // The first free timer identifier from 31 to 99 (each one tried is left set only when taken), or 0.
  static UINT SetFreeTimer(HWND hwnd, UINT milliseconds);
  // Kills a timer SetFreeTimer handed out, which makes its identifier free again.
  static void KillFreeTimer(HWND hwnd, UINT id);
  // Shows the text of the last error in a box titled "Error".
  static void ShowLastError();
  // The visual-style and gradient libraries, each optional: a missing one leaves its entry points null
  // (no theme query; gradients in bands). The state loads them when made and frees them when it goes.
  void LoadLibraries();
  void FreeLibraries();

  BOOL m_bRemoteSession = FALSE;
  HMODULE m_hThemeLibrary = nullptr;
  BOOL (*m_pfnIsThemeActive)() = nullptr;
  LONG (*m_pfnSetWindowTheme)(HWND, const WCHAR*, const WCHAR*) = nullptr;
  HMODULE m_hGradientLibrary = nullptr;
  BOOL (*m_pfnGradientFill)(HDC, PTRIVERTEX, ULONG, PVOID, ULONG, ULONG) = nullptr;
  BOOL m_bHighContrast = FALSE;
  std::vector<CNewMenuStyle*> m_styles;
  CNewMenuStyle* m_pCurrentStyle = nullptr;
  HHOOK m_hHook = nullptr;
  CNewMenu* m_pPendingPopup = nullptr;
  HMENU m_hPendingPopup = nullptr;
  DWORD m_dwDialogOptions = 0;
  std::vector<CNewMenuIcons*> m_iconSets;  // every icon set a menu loaded
  DWORD m_dwLastColorRefresh = 0;
  BOOL m_bColorRefreshed = FALSE;
  LOGFONT m_titleFont{};
  void* m_pHotBarItem = nullptr;
  BOOL m_bHighlightGrayed = TRUE;
  BOOL m_bIconVariants = TRUE;
  BOOL m_bSubclassAllMenus = TRUE;
  DWORD m_lastMessagePos = 0;
};
CNewMenuGlobalState& GetNewMenuGlobalState();

// The cache of the brushes the menus paint with; the library makes one on first use and frees it at exit.
class CNewMenuBrushCache {
 public:
  ~CNewMenuBrushCache();
  static CNewMenuBrushCache& Instance();
  int GetCount() const { return static_cast<int>(m_brushes.size()); }
  // The brush of (kind, colour), made on first request and kept.
  HBRUSH GetBrush(int kind, COLORREF colour);

 private:
  CNewMenuBrushCache() = default;
  struct Entry {
    int kind;
    COLORREF colour;
    HBRUSH brush;
  };
  std::vector<Entry> m_brushes;
  size_t m_last = 0;
};

// The state the library keeps for a popup menu window it subclassed. The saved background and the
// copied update region belong to the record and go with it.
struct CNewMenuWindowRecord {
  CNewMenuWindowRecord() = default;
  ~CNewMenuWindowRecord();
  CNewMenuWindowRecord(const CNewMenuWindowRecord&) = delete;
  CNewMenuWindowRecord& operator=(const CNewMenuWindowRecord&) = delete;
  // Keeps a copy of the region (1, the whole window, stays 1).
  void SetUpdateRegion(HRGN region);
  void DropBackground();

  enum : DWORD { kMadeOnSize = 1, kStyleChanged = 2, kEscape = 4, kPrinting = 8 };
  HWND hwnd = nullptr;
  DWORD style = 0;
  DWORD exStyle = 0;
  POINT lastPosition{0, 0};
  DWORD flags = 0;
  BOOL painted = FALSE;
  CNewMenu* popup = nullptr;
  HMENU menu = nullptr;
  HBITMAP background = nullptr;
  HRGN updateRegion = reinterpret_cast<HRGN>(1);
  BOOL draw = TRUE;
};

// The record of a subclassed menu window, or null.
CNewMenuWindowRecord* FindMenuWindowRecord(HWND hwnd);
// The procedure of subclassed menu windows and the detach that puts their own procedure back.
LRESULT CALLBACK NewMenuWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void DetachMenuWindow(HWND hwnd);

// The menu windows' records, by window handle.
class CNewMenuWindowMap {
 public:
  CNewMenuWindowMap() : m_map(10) {}
  ~CNewMenuWindowMap() { m_map.RemoveAll(); }
  CMapPtrToPtr m_map;
};
CNewMenuWindowMap& GetNewMenuWindowMap();

// One toolbar bitmap as an image list: icon k is image 3k, its darkened variant 3k + 1, its faded one 3k + 2.
class CNewMenuIcons : public CObject {
 public:
  CNewMenuIcons() = default;
  ~CNewMenuIcons() override;
  int AddRef();
  // At 0 the set leaves the process-wide list and is deleted.
  int Release();
  int GetRefCount() const { return m_nRef; }
  CSize GetIconSize() const;

  virtual UINT FindIndex(UINT id) const;
  // A set loaded from a resource loads its pictures again and makes their variants anew.
  virtual void RefreshColors();
  // Table: bitmap id, icon width, icon height, command ids..., 0.
  virtual BOOL LoadFromTable(const WORD* table, COLORREF transparent);
  // A toolbar resource (RT_TOOLBAR) with its bitmap of the same name, looked for in the instance and then in
  // the resource module. The name is a number (MAKEINTRESOURCE) or text.
  virtual BOOL LoadFromToolBarResource(LPCSTR name, HINSTANCE instance);
  // Whether the set was loaded from exactly this table with this colour.
  virtual BOOL MatchesTable(const WORD* table, COLORREF transparent) const;
  // Whether the set was loaded from this resource name of this instance.
  virtual BOOL MatchesResource(LPCSTR name, HINSTANCE instance) const;
  virtual BOOL LoadImageList(int width, int height, LPCSTR name, HINSTANCE instance);
  virtual UINT AddDarkenedVariant(HICON icon, int index);
  virtual UINT AddFadedVariant(HICON icon, int index);
  virtual BOOL BuildVariants();

  // The resource the set comes from: a number below 0x10000 or a name of its own; null when none.
  LPCSTR GetResourceName() const;
  void SetResourceName(LPCSTR name);

  UINT m_nResourceId = 0;     // the number, when the name is one
  CString m_resourceName;     // the text, when the name is one
  HINSTANCE m_hInstance = nullptr;
  UINT m_nColorDepth = 0;     // colours of the loaded bitmap
  COLORREF m_crTransparent = 0xFFFFFFFF;
  CImageList m_imageList;
  std::vector<UINT> m_keys;
  int m_nRef = 0;

 protected:
  UINT AddVariant(HICON icon, int index, bool faded);
};

// A record of one owner-drawn item.
class CNewMenuItemData : public CObject {
 public:
  CNewMenuItemData() = default;
  ~CNewMenuItemData() override;
  void SetIcons(CNewMenuIcons* icons);

  CString m_szMenuText;
  UINT m_nTitleFlags = 0;
  UINT m_nFlags = 0;
  UINT m_nID = 0;
  CNewMenuIcons* m_pMenuIcon = nullptr;
  int m_nMenuIconOffset = -1;
  void* m_pData = nullptr;
  BOOL m_bMatched = FALSE;
};

class CNewMenu : public CMenu {
 public:
  explicit CNewMenu(HMENU parent = nullptr);
  ~CNewMenu() override;

  void DrawItem(LPDRAWITEMSTRUCT draw) override;
  void MeasureItem(LPMEASUREITEMSTRUCT measure) override;
  BOOL LoadMenu(UINT idResource) override;
  BOOL LoadMenu(LPCSTR resourceName) override;
  virtual BOOL LoadMenu(HMENU menu);
  BOOL DestroyMenu() override;
  virtual void DrawTitle(LPDRAWITEMSTRUCT draw, BOOL barItem);
  virtual BOOL EraseBkgnd(HWND hwnd, HDC dc);
  virtual void OnInitMenuPopup();
  virtual BOOL OnUnInitPopupMenu();

  static UINT SetMenuDrawMode(UINT mode);
  static UINT GetMenuDrawMode();
  static UINT GetWindowsVersion();
  static UINT GetProgramWindowsVersion();
  static BOOL IsNewShell() { return GetWindowsVersion() >= 2; }
  static BOOL SetHighlightGrayedItems(BOOL on);
  static BOOL GetHighlightGrayedItems();
  static BOOL SetIconVariantsMode(BOOL on);
  static BOOL GetIconVariantsMode();
  static BOOL SetSubclassAllMenuWindows(BOOL on);
  static BOOL GetSubclassAllMenuWindows();
  static void SetMenuTitleFont(const LOGFONT* font);
  static void GetMenuTitleFont(LOGFONT* font);
  // Rebuilds every icon set's variants, at most once every 2000 ms; whether it ran.
  static BOOL RefreshIconColors();
  // Routing of WM_MEASUREITEM; 1 when a menu measured the item.
  static LRESULT OnMeasureItem(const MSG* msg);
  static LRESULT OnMenuChar(UINT ch, UINT flags, CMenu* menu);
  static void OnInitMenuPopup(HWND hwnd, CMenu* popup, UINT index, BOOL sysMenu);
  static CNewMenu* FindMenuByCommand(HMENU root, UINT id);

  static COLORREF GetMenuColor(HMENU menu = nullptr);
  static COLORREF GetMenuBarColor(HMENU menu = nullptr);
  static COLORREF GetFaceColor();
  static COLORREF GetBlendBarColor();

  // Building.
  void RebuildItemRecords();
  CNewMenuItemData* CreateItemRecord(UINT position, UINT flags, UINT_PTR id, LPCSTR text);
  BOOL AppendOwnerDrawItem(LPCSTR text, UINT flags, UINT_PTR id, CNewMenuIcons* icons, int index);
  // Without an image list the index names no icon: the item has none.
  BOOL AppendOwnerDrawItem(LPCSTR text, UINT flags, UINT_PTR id, int iconIndex = -1);
  // Items with a picture of their own (an image list's icon or a bitmap), kept in the shared icon sets.
  BOOL AppendOwnerDrawItem(LPCSTR text, UINT flags, UINT_PTR id, CImageList* list, int index);
  BOOL AppendOwnerDrawItem(LPCSTR text, UINT flags, UINT_PTR id, CBitmap* bitmap);
  BOOL InsertOwnerDrawItem(UINT position, LPCSTR text, UINT flags, UINT_PTR id, CNewMenuIcons* icons, int index);
  // The icon of a toolbar resource that has a button for the command, else of the bitmap resource of that
  // id; none for an id below 0.
  BOOL InsertOwnerDrawItem(UINT position, LPCSTR text, UINT flags, UINT_PTR id, int resourceId);
  BOOL InsertOwnerDrawItem(UINT position, LPCSTR text, UINT flags, UINT_PTR id, CImageList* list, int index);
  BOOL InsertOwnerDrawItem(UINT position, LPCSTR text, UINT flags, UINT_PTR id, CBitmap* bitmap);
  // Every item of the menu tree with the command takes the text (when given) and the icon.
  BOOL ModifyOwnerDrawItem(LPCSTR text, UINT id, CNewMenuIcons* icons, int index);
  BOOL ModifyOwnerDrawItem(LPCSTR text, UINT id, CImageList* list, int index);
  // The bitmap is copied at the menu's icon size, masked by the bitmap background colour.
  BOOL ModifyOwnerDrawItem(LPCSTR text, UINT id, CBitmap* bitmap);
  // A swatch of the fill colour in a frame (hatched in the frame colour unless hatch is 0xFFFFFFFF).
  BOOL ModifyOwnerDrawItem(LPCSTR text, UINT id, COLORREF fill, COLORREF frame, DWORD hatch);
  BOOL ModifyOwnerDrawItem(LPCSTR text, UINT id, int resourceId);
  // The item whose record text is currentText: the new text (when given) and the icon of the bitmap
  // resource (none for an id below 0). 0 when no item has the text, 1 when the text stayed, else whether
  // the menu took the new text.
  BOOL ModifyOwnerDrawItemByText(LPCSTR newText, LPCSTR currentText, int bitmapId);
  // The Windows change, with the item owner-drawn again from its record (by command: in the menu that
  // holds it).
  BOOL ModifyMenu(UINT item, UINT flags, UINT_PTR newId = 0, LPCSTR text = nullptr);
  BOOL ModifyMenu(UINT item, UINT flags, UINT_PTR newId, CBitmap* bitmap);
  BOOL AppendMenu(UINT flags, UINT_PTR id = 0, LPCSTR text = nullptr, int iconIndex = -1) {
    return AppendOwnerDrawItem(text, flags, id, iconIndex);
  }
  BOOL AppendMenu(UINT flags, UINT_PTR id, LPCSTR text, CImageList* list, int index) {
    return AppendOwnerDrawItem(text, flags, id, list, index);
  }
  BOOL AppendMenu(UINT flags, UINT_PTR id, LPCSTR text, CBitmap* bitmap) {
    return AppendOwnerDrawItem(text, flags, id, bitmap);
  }
  // The last argument is a toolbar or bitmap resource id (below 0: no icon).
  BOOL InsertMenu(UINT position, UINT flags, UINT_PTR id = 0, LPCSTR text = nullptr, int resourceId = -1) {
    return InsertOwnerDrawItem(position, text, flags, id, resourceId);
  }
  BOOL InsertMenu(UINT position, UINT flags, UINT_PTR id, LPCSTR text, CImageList* list, int index) {
    return InsertOwnerDrawItem(position, text, flags, id, list, index);
  }
  BOOL InsertMenu(UINT position, UINT flags, UINT_PTR id, LPCSTR text, CBitmap* bitmap) {
    return InsertOwnerDrawItem(position, text, flags, id, bitmap);
  }
  CNewMenu* AppendPopup(LPCSTR text);
  BOOL RemoveMenu(UINT position, UINT flags);
  BOOL DeleteMenu(UINT position, UINT flags);
  // Removes by the record text: mode 0 the item, 1 the one before, 2 the one after, 3 after then before.
  // The found position, or 0xFFFFFFFF when no item has the text or a neighbour asked for does not exist.
  UINT RemoveMenuByText(LPCSTR text, int mode);
  CNewMenu* GetSubMenu(int position) const;
  CNewMenu* GetSubMenuByText(LPCSTR text) const;
  UINT GetMenuItemIndexByText(LPCSTR text) const;
  BOOL SetMenuText(UINT item, LPCSTR text, UINT flags);
  BOOL GetItemText(UINT item, CString& text, UINT flags) const;
  BOOL SetMenuTitle(LPCSTR text, UINT titleFlags);
  BOOL RemoveMenuTitle();
  // The menu of the tree (depth first, popups before the items after them) that holds the command, with
  // its position; null and -1 when none does.
  CNewMenu* FindCommand(UINT id, int* position);
  // The same, passing over the (menu, position) pairs already found.
  CNewMenu* FindNextCommand(UINT id, int* position, const std::vector<CNewMenu*>& menusFound,
                            const std::vector<int>& positionsFound);
  // The first item of this menu whose record text is the text, else of its popups'.
  CNewMenu* FindItemByText(LPCSTR text, int* position);
  // The record with the command (or popup handle) in this menu, else in the menu that holds the command.
  CNewMenuItemData* FindItemRecordById(UINT_PTR id) const;

  BOOL LoadToolBar(const WORD* table, COLORREF transparent = 0xFFFFFFFF);
  BOOL LoadToolBar(UINT resourceId, HINSTANCE instance = nullptr);
  BOOL LoadToolBar(LPCSTR resourceName, HINSTANCE instance = nullptr);
  // Every toolbar of the list; true only when each one loaded.
  BOOL LoadToolBars(const UINT* resourceIds, int count, HINSTANCE instance = nullptr);
  // Whether the toolbar resource has a button for the command (asked of a toolbar window made for it).
  static BOOL HasToolBarButton(UINT commandId, UINT toolbarId);
  void SetIconSize(int width, int height) {
    m_iconX = width;
    m_iconY = height;
  }
  // Check marks drawn from two bitmap resources (image 0 normal, 1 selected); both ids must be 1 or more.
  void SetCheckMarkImages(UINT normalId, UINT selectedId);
  // Adds a bitmap resource (or, with the icon-handle flag, an icon handle) to an image list; 1 when taken.
  BOOL AddBitmapResource(CImageList* list, UINT_PTR id);
  COLORREF SetBitmapBackgroundColor(COLORREF colour);
  COLORREF GetBitmapBackgroundColor() const;
  BOOL SetItemUserData(UINT item, void* data, BOOL byPosition);
  void* GetItemUserData(UINT item, BOOL byPosition) const;
  BOOL SetUserValue(ULONG_PTR value) {
    m_userValue = value;
    return TRUE;
  }
  ULONG_PTR GetUserValue() const { return m_userValue; }
  void StoreBarItemRect(HDC dc, const RECT* rect);

  // Painting services of the styles.
  static void DrawMarlettGlyph(HDC dc, RECT rect, char ch, BOOL bold);
  static void DrawFlatSystemGlyph(CNewMenu* menu, HDC dc, RECT rect, UINT command, UINT state);
  static BOOL CreateFramedBitmap(HDC dc, CBitmap& bitmap, CSize size, COLORREF fill, COLORREF frame,
                                 DWORD hatch = 0xFFFFFFFF);
  // A 16-colour bitmap resource with its standard colours turned into the system's (AfxLoadSysColorBitmap);
  // null for a bitmap of another colour count.
  static HBITMAP LoadSysColorBitmap(LPCSTR resourceName);

  bool ForgetPopupRecords(HMENU sub);

  std::vector<CNewMenuItemData*> m_items;
  std::vector<HMENU> m_subMenus;
  std::vector<CNewMenu*> m_detachedPopups;  // popups taken out by RemoveMenu, still owned
  int m_iconX = 16;
  int m_iconY = 15;
  HWND m_hOwner = nullptr;
  COLORREF m_bitmapBackground = 0xFF000000;
  CImageList* m_pCheckMarkImages = nullptr;
  BOOL m_bSharedCheckMarks = FALSE;
  UINT m_selectedCheckId = 0xFFFFFFFF;
  UINT m_normalCheckId = 0xFFFFFFFF;
  BOOL m_bIconHandles = FALSE;
  HMENU m_hParent = nullptr;
  BOOL m_bPopup = TRUE;
  RECT m_lastBarItem{};
  int m_openPopups = 0;
  ULONG_PTR m_userValue = 0;

 private:
  BOOL FinishAdd(UINT position, CNewMenuItemData* record, UINT flags, UINT_PTR id, bool appended);
  // The icon of a toolbar or bitmap resource for the command, handed to `add` (null and -1 for none).
  BOOL WithResourceIcon(UINT command, int resourceId, const std::function<BOOL(CNewMenuIcons*, int)>& add);
  // The icon set of a toolbar resource: one loaded already, else a new one entered in the list; null when
  // the resource cannot be loaded.
  CNewMenuIcons* ToolBarIconSet(LPCSTR resourceName, HINSTANCE instance);
  // Gives every command of the set its icon.
  void AttachIcons(CNewMenuIcons* set);
  // Writes the item under the title (position 1) back from its record, after its break flag changed.
  void RewriteItemUnderTitle();
};

// Menu-bar services of the host frames (NewFrameWnd.cpp).
// Hot tracking of a host frame's bar items on WM_NCHITTEST; returns `hit`, the base result. The timer and
// the hot item are the frame's.
LRESULT TrackMenuBarHotItem(HWND hwnd, LRESULT hit, POINT screen, BOOL inMenuLoop, UINT* timerId, int* hotItem);
// Ends a frame's hot tracking: a hot item is drawn again with state 0 (unless `redraw` is false) and
// forgotten, the timer killed.
void EndMenuBarHotTracking(HWND hwnd, BOOL redraw, UINT* timerId, int* hotItem);
// Gives a menu bar the current style's background (MENUINFO MIM_BACKGROUND) when it is a CNewMenu.
void SetMenuBarBackground(HMENU menu);

// The run-time class of the library's floating frames (CNewMiniDockFrameWnd).
const CRuntimeClass* NewMiniDockFrameClass();

// The library's frame template: a window class with owner-drawn menus: its menu bar and system menu
// are CNewMenu objects, and the menu messages are routed to the library.
template <class TBase>
class CMenuHostFrame : public TBase {
 public:
  CNewMenu m_DefaultNewMenu;
  CNewMenu m_SystemNewMenu;
  BOOL m_bInMenuLoop = FALSE;
  UINT m_TimerID = 0;
  int m_menubarItemIndex = -1;

  // Docking as the base frame's, with floating bars in frames whose menus are the library's.
  void EnableDocking(DWORD dockStyle) {
    TBase::EnableDocking(dockStyle);
    this->m_pFloatingFrameClass = NewMiniDockFrameClass();
  }

  // The template's own message entries (its map links them after the base's).
  static const mfc::MessageMap* GetMessageEntries() {
    static const mfc::MessageEntry entries[] = {
        mfc::OnMessage<&CMenuHostFrame::OnMeasureItemMessage>(WM_MEASUREITEM),
        mfc::OnMessage<&CMenuHostFrame::OnMenuCharMessage>(WM_MENUCHAR),
        mfc::OnMessage<&CMenuHostFrame::OnInitMenuPopupMessage>(WM_INITMENUPOPUP),
        mfc::OnMessage<&CMenuHostFrame::OnEnterMenuLoopMessage>(WM_ENTERMENULOOP),
        mfc::OnMessage<&CMenuHostFrame::OnExitMenuLoopMessage>(WM_EXITMENULOOP),
        mfc::OnMessage<&CMenuHostFrame::OnSysColorChangeMessage>(WM_SYSCOLORCHANGE),
        mfc::OnMessage<&CMenuHostFrame::OnNcHitTestMessage>(WM_NCHITTEST),
    };
    static const mfc::MessageMap map{nullptr, entries};
    return &map;
  }
  const mfc::MessageMap* GetMessageMap() const override {
    static const mfc::MessageMap map{TBase::GetMessageMap(), GetMessageEntries()->entries};
    return &map;
  }

 protected:
  int OnCreate(LPCREATESTRUCT createStruct) override {
    if (TBase::OnCreate(createStruct) == -1) return -1;
    if (m_SystemNewMenu.m_hMenu) ::DestroyMenu(m_SystemNewMenu.Detach());
    m_SystemNewMenu.Attach(::GetSystemMenu(this->m_hWnd, FALSE));
    return 0;
  }
  void OnTimer(UINT_PTR id) override {
    TBase::OnTimer(id);
    if (!m_TimerID || id != m_TimerID) return;
    POINT cursor{};
    ::GetCursorPos(&cursor);
    this->SendMessage(WM_NCHITTEST, 0, MAKELPARAM(cursor.x, cursor.y));
  }
  LRESULT OnNcHitTestMessage(WPARAM wParam, LPARAM lParam) {
    const LRESULT hit = this->DefWindowProc(WM_NCHITTEST, wParam, lParam);
    return TrackMenuBarHotItem(this->m_hWnd, hit, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}, m_bInMenuLoop,
                               &m_TimerID, &m_menubarItemIndex);
  }
  void OnDestroy() override {
    EndMenuBarHotTracking(this->m_hWnd, FALSE, &m_TimerID, &m_menubarItemIndex);
    // The system menu belongs to the window.
    m_SystemNewMenu.Detach();
    TBase::OnDestroy();
  }
  LRESULT OnMeasureItemMessage(WPARAM wParam, LPARAM lParam) {
    MSG msg{this->m_hWnd, WM_MEASUREITEM, wParam, lParam, 0, {0, 0}};
    if (CNewMenu::OnMeasureItem(&msg)) return TRUE;
    return this->DefWindowProc(WM_MEASUREITEM, wParam, lParam);
  }
  LRESULT OnMenuCharMessage(WPARAM wParam, LPARAM lParam) {
    CMenu* menu = CMenu::FromHandle(reinterpret_cast<HMENU>(lParam));
    if (dynamic_cast<CNewMenu*>(menu)) return CNewMenu::OnMenuChar(LOWORD(wParam), HIWORD(wParam), menu);
    return this->DefWindowProc(WM_MENUCHAR, wParam, lParam);
  }
  LRESULT OnInitMenuPopupMessage(WPARAM wParam, LPARAM lParam) {
    // The base's handler first (a frame's command update pass), then the popup set-up.
    TBase::OnInitMenuPopup(CMenu::FromHandle(reinterpret_cast<HMENU>(wParam)), LOWORD(lParam), HIWORD(lParam));
    CNewMenu::OnInitMenuPopup(this->m_hWnd, CMenu::FromHandle(reinterpret_cast<HMENU>(wParam)), LOWORD(lParam),
                              HIWORD(lParam));
    return 0;
  }
  LRESULT OnEnterMenuLoopMessage(WPARAM wParam, LPARAM lParam) {
    m_bInMenuLoop = TRUE;
    EndMenuBarHotTracking(this->m_hWnd, TRUE, &m_TimerID, &m_menubarItemIndex);
    return this->DefWindowProc(WM_ENTERMENULOOP, wParam, lParam);
  }
  LRESULT OnExitMenuLoopMessage(WPARAM wParam, LPARAM lParam) {
    m_bInMenuLoop = FALSE;
    return this->DefWindowProc(WM_EXITMENULOOP, wParam, lParam);
  }
  LRESULT OnSysColorChangeMessage(WPARAM wParam, LPARAM lParam) {
    const LRESULT result = this->DefWindowProc(WM_SYSCOLORCHANGE, wParam, lParam);
    CNewMenu::RefreshIconColors();
    SetMenuBarBackground(m_DefaultNewMenu.m_hMenu);
    return result;
  }
};

// Owner-drawn menus for a dialog window the library did not create: made by the hook for every new
// dialog when dialog option bit 0 is set; it deletes itself when its window goes.
class CNewMenuTempHandler : public CObject {
 public:
  explicit CNewMenuTempHandler(HWND hwnd);
  ~CNewMenuTempHandler() override;  // puts the previous procedure back
  static CNewMenuTempHandler* FromWindow(HWND hwnd);

  CNewMenu m_SystemNewMenu;
  WNDPROC m_oldWndProc = nullptr;
  HWND m_hWnd = nullptr;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
};

// An off-screen context: painting goes to a bitmap that is copied to the target when it ends.
class CNewMenuMemDC : public CDC {
 public:
  CNewMenuMemDC(HDC target, const RECT& rect);
  ~CNewMenuMemDC() override;
  void DoCancel() { m_bCancel = TRUE; }

 private:
  RECT m_rect;
  HGDIOBJ m_oldBitmap = nullptr;
  HBITMAP m_bitmap = nullptr;
  BOOL m_bCancel = FALSE;
  HDC m_target;
};

// The base links of the frame template's instantiations, stored by static initialisers.
const mfc::MessageMap* const* GetMenuHostFrameLinks();
constexpr int kMenuHostFrameLinkCount = 5;
