// The lines of a list box or a combo box, and what the two share.
#pragma once
#include <string>
#include <vector>

#include "win32/gdi.h"
#include "win32/user.h"

namespace tavrin::controls::detail {

struct ListItems {
  struct Item {
    std::string text;
    LPARAM data;
  };
  // More lines than this are refused (LB_ERRSPACE / CB_ERRSPACE).
  static constexpr size_t kMaxItems = 1u << 20;
  std::vector<Item> items;
  bool sorted = false;

  int Count() const { return static_cast<int>(items.size()); }
  bool Valid(int index) const { return index >= 0 && index < Count(); }
  const std::string& Text(int index) const { return items[static_cast<size_t>(index)].text; }
  LPARAM Data(int index) const { return items[static_cast<size_t>(index)].data; }
  void SetData(int index, LPARAM data) { items[static_cast<size_t>(index)].data = data; }
  // A valid line with its terminator into a caller's buffer sized by its length; the length, or -1
  // (LB_ERR, CB_ERR) for no buffer.
  LRESULT CopyText(int index, LPARAM buffer) const;
  void Clear() { items.clear(); }
  // The new line's index (in sorted place when sorted); -2 when full.
  int Add(const std::string& text);
  // At `index` (-1: the end); -1 for an index out of range, -2 when full.
  int Insert(int index, const std::string& text);
  bool Delete(int index);
  // The first line after `after` (wrapping; -1 from the top) that starts with `text` (case ignored), or
  // equals it when exact; -1 when none.
  int Find(int after, const std::string& text, bool exact) const;
};

// The height of a line in the font (the default GUI font for null).
int LineHeight(HFONT font);

// What a combo box's dropped list sends its combo box: wParam TRUE for a pick, FALSE to close unchosen.
constexpr UINT kComboListDone = WM_USER + 0x7F01;

}  // namespace tavrin::controls::detail
