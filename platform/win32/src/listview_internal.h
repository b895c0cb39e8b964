// The list view ("SysListView32") and its header ("SysHeader32"). The list keeps its items in a state
// object hung on the window; its procedure hands each message to one family:
//   std_listview.cpp        the state, the geometry of rows and icon cells, the notifications to the
//                           parent, and the procedure itself;
//   std_listview_api.cpp    the control's own messages (LVM_*): items, columns, states, colours, views;
//   std_listview_input.cpp  the mouse, the keys, the focus, scrolling and the label editor;
//   std_listview_paint.cpp  painting (report rows with custom draw, icons, check boxes, grid lines).
#pragma once
#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "comctl_internal.h"
#include "win32/controls.h"
#include "win32/imagelist.h"

namespace tavrin::controls::detail {

LRESULT CALLBACK HeaderProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

namespace listview {

inline constexpr char kListProp[] = "TavrinListState";
constexpr int kRowHeight = kListRowHeight;
constexpr int kSmallImageGap = 2;  // between a row's small image and its text

struct ListState {
  HWND header = nullptr;
  bool making = false;  // the header is being made (its creation notifies this window)
  std::vector<std::vector<std::string>> rows;  // each row's texts by column
  std::vector<LPARAM> params;                   // each row's application value
  std::vector<UINT> states;                     // each row's LVIS_* bits
  std::vector<int> images;                      // each row's image index
  std::vector<POINT> places;                    // icon view: each item's set position, x INT_MIN when none
  HFONT font = nullptr;
  int top = 0;        // first row shown
  int rowHeight = 0;  // 0 until measured
  int selectionMark = -1;
  COLORREF back = GetSysColor(COLOR_WINDOW);
  COLORREF text = GetSysColor(COLOR_WINDOWTEXT);
  COLORREF textBack = GetSysColor(COLOR_WINDOW);
  HIMAGELIST small = nullptr;
  HIMAGELIST state = nullptr;
  HIMAGELIST normal = nullptr;
  DWORD exStyle = 0;  // LVS_EX_*
  HWND edit = nullptr;  // the label editor while one is open
  int editRow = -1;
  WNDPROC editProc = nullptr;

  int Count() const { return static_cast<int>(rows.size()); }
  bool Valid(int row) const { return row >= 0 && row < Count(); }
};

// ---- geometry (std_listview.cpp) ----
int RowHeight(HWND hwnd, ListState& s);
bool IconView(HWND hwnd);
int RowsTop(HWND hwnd);  // where the first row starts: under the header in the report view
SIZE IconSize(const ListState& s);
SIZE CellSize(const ListState& s);
int IconsAcross(HWND hwnd, const ListState& s);
RECT IconCell(HWND hwnd, const ListState& s, int item);
RECT IconImageRect(const ListState& s, const RECT& cell);
RECT IconLabelRect(const ListState& s, const RECT& cell);
bool Checkboxes(const ListState& s);
bool FullRowSelect(const ListState& s);
RECT RowRect(HWND hwnd, ListState& s, int row);
// A column's cell of a row (header coordinates across, the row's band down).
RECT CellRect(HWND hwnd, ListState& s, int row, int column);
int ColumnCount(const ListState& s);
// The width of the small image at the start of a report row (0 without a small image list).
int SmallImageWidth(const ListState& s);
int PerPage(HWND hwnd, ListState& s);
// The item under a point (client coordinates), -1 for none, and its LVHT_* flags.
int HitRow(HWND hwnd, ListState& s, POINT pt, UINT* flags);

// Marks a row for repainting, or a row and all below it (rows moved).
void InvalidateRow(HWND hwnd, ListState& s, int row);
void InvalidateFrom(HWND hwnd, ListState& s, int row);

// ---- state changes that the parent hears of (std_listview.cpp) ----
void SetState(HWND hwnd, ListState& s, int row, UINT state, UINT mask);
void ToggleCheck(HWND hwnd, ListState& s, int row);
void EnsureVisible(HWND hwnd, ListState& s, int row);
// Selects one row alone, focused and in view.
void SelectOnly(HWND hwnd, ListState& s, int row);
// The scroll bar follows the rows (when the window has one).
void UpdateScrollBar(HWND hwnd, ListState& s);
void ScrollToTop(HWND hwnd, ListState& s, int top);

// ---- the message families (see DispatchByFamily); each answers the messages it takes, nothing for others ----
std::optional<LRESULT> ListApi(HWND hwnd, ListState& s, UINT message, WPARAM wParam, LPARAM lParam);
std::optional<LRESULT> ListInput(HWND hwnd, ListState& s, UINT message, WPARAM wParam, LPARAM lParam);
void PaintList(HWND hwnd, ListState& s);

// ---- the label editor (std_listview_input.cpp) ----
HWND BeginEdit(HWND hwnd, ListState& s, int row);
void EndEdit(HWND hwnd, ListState& s, bool commit);
// The list goes: an open editor goes with it, unannounced.
void DropEditor(ListState& s);

}  // namespace listview
}  // namespace tavrin::controls::detail
