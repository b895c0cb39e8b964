// The dialog manager: the "#32770" class, dialogs built from templates in dialog units, modal loops that
// disable the owner, and keyboard navigation (tab order, groups, default button).
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "control_internal.h"
#include "dialog_internal.h"
#include "win32/comctl.h"
#include "win32/controls.h"
#include "win32/dialog.h"
#include "win32/resources.h"
#include "win32/user_draw.h"
#include "win32/window_manager.h"

namespace {

struct DialogInfo {
  DLGPROC proc = nullptr;
  LONG_PTR msgResult = 0;
  LONG_PTR user = 0;
  HFONT font = nullptr;
  bool ownFont = false;
  int baseX = 6;
  int baseY = 13;
  int defId = 0;
  HWND focus = nullptr;  // the control that had the focus when the dialog lost it
  std::atomic<bool> ended{false};
  std::atomic<INT_PTR> result{0};
  bool modal = false;
  HWND owner = nullptr;
  std::atomic<bool> ownerDisabled{false};
};

std::mutex g_lock;
std::map<HWND, std::shared_ptr<DialogInfo>>& Dialogs() {
  static std::map<HWND, std::shared_ptr<DialogInfo>> dialogs;
  return dialogs;
}
thread_local std::shared_ptr<DialogInfo> t_creating;

std::shared_ptr<DialogInfo> InfoOf(HWND hwnd) {
  std::lock_guard guard(g_lock);
  auto it = Dialogs().find(hwnd);
  return it == Dialogs().end() ? nullptr : it->second;
}

// ---- templates ----

// Reads a template without passing `end` (null: no bound known).
class Reader {
 public:
  Reader(const uint8_t* data, const uint8_t* end) : start_(data), at_(data), end_(end) {}
  bool ok() const { return ok_; }
  bool Need(size_t n) {
    if (end_ && static_cast<size_t>(end_ - at_) < n) ok_ = false;
    return ok_;
  }
  uint16_t Word() {
    if (!Need(2)) return 0;
    uint16_t v;
    std::memcpy(&v, at_, 2);
    at_ += 2;
    return v;
  }
  uint32_t Dword() {
    uint32_t low = Word();
    return low | (static_cast<uint32_t>(Word()) << 16);
  }
  uint8_t Byte() {
    if (!Need(1)) return 0;
    return *at_++;
  }
  // UTF-16 up to its terminating zero, as UTF-8.
  std::string String() {
    std::string out;
    for (size_t n = 0; n < 4096 && ok_; ++n) {
      uint32_t c = Word();
      if (!c) return out;
      if (c >= 0xD800 && c < 0xDC00) {
        uint32_t low = Word();
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      }
      if (c < 0x80) {
        out += static_cast<char>(c);
      } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
      } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
      } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    ok_ = false;  // no terminator within reason
    return out;
  }
  // A name or an ordinal (0xFFFF then the number); an ordinal comes back as "#N" in `name`.
  std::string NameOrOrdinal(uint16_t* ordinal = nullptr) {
    if (!Need(2)) return {};
    uint16_t first;
    std::memcpy(&first, at_, 2);
    if (first == 0xFFFF) {
      at_ += 2;
      uint16_t n = Word();
      if (ordinal) *ordinal = n;
      return "#" + std::to_string(n);
    }
    if (ordinal) *ordinal = 0;
    return String();
  }
  void Align4() {
    size_t offset = static_cast<size_t>(at_ - start_);
    size_t pad = (4 - offset % 4) % 4;
    if (end_ && static_cast<size_t>(end_ - at_) < pad) {
      at_ = end_;
      return;
    }
    at_ += pad;
  }
  void Skip(size_t n) {
    if (Need(n)) at_ += n;
  }

 private:
  const uint8_t* start_;
  const uint8_t* at_;
  const uint8_t* end_;
  bool ok_ = true;
};

struct ItemTemplate {
  DWORD style = 0;
  DWORD exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  DWORD id = 0;
  std::string className;
  std::string title;
};

struct Template {
  DWORD style = 0;
  DWORD exStyle = 0;
  short x = 0, y = 0, cx = 0, cy = 0;
  std::string menu;
  std::string className;
  std::string title;
  bool hasFont = false;
  int pointSize = 8;
  int weight = FW_NORMAL;
  bool italic = false;
  BYTE charset = DEFAULT_CHARSET;
  std::string face;
  std::vector<ItemTemplate> items;
};

std::string ControlClass(Reader& r) {
  uint16_t ordinal = 0;
  std::string name = r.NameOrOrdinal(&ordinal);
  if (name.empty() || name[0] != '#' || !ordinal) return name;
  switch (ordinal) {
    case 0x80: return "Button";
    case 0x81: return "Edit";
    case 0x82: return "Static";
    case 0x83: return "ListBox";
    case 0x84: return "ScrollBar";
    case 0x85: return "ComboBox";
    default: return name;
  }
}

bool ParseTemplate(const uint8_t* data, const uint8_t* end, Template& t) {
  Reader r(data, end);
  bool extended = false;
  if (r.Need(4)) {
    uint16_t version, signature;
    std::memcpy(&version, data, 2);
    std::memcpy(&signature, data + 2, 2);
    extended = version == 1 && signature == 0xFFFF;
  }
  WORD count;
  if (extended) {
    r.Dword();  // version and signature
    r.Dword();  // help id
    t.exStyle = r.Dword();
    t.style = r.Dword();
  } else {
    t.style = r.Dword();
    t.exStyle = r.Dword();
  }
  count = r.Word();
  t.x = static_cast<short>(r.Word());
  t.y = static_cast<short>(r.Word());
  t.cx = static_cast<short>(r.Word());
  t.cy = static_cast<short>(r.Word());
  t.menu = r.NameOrOrdinal();
  t.className = r.NameOrOrdinal();
  t.title = r.String();
  if (t.style & DS_SETFONT) {
    t.hasFont = true;
    t.pointSize = r.Word();
    if (extended) {
      t.weight = r.Word();
      t.italic = r.Byte() != 0;
      t.charset = r.Byte();
    }
    t.face = r.String();
  }
  for (WORD i = 0; i < count && r.ok(); ++i) {
    r.Align4();
    ItemTemplate item;
    if (extended) {
      r.Dword();  // help id
      item.exStyle = r.Dword();
      item.style = r.Dword();
    } else {
      item.style = r.Dword();
      item.exStyle = r.Dword();
    }
    item.x = static_cast<short>(r.Word());
    item.y = static_cast<short>(r.Word());
    item.cx = static_cast<short>(r.Word());
    item.cy = static_cast<short>(r.Word());
    item.id = extended ? r.Dword() : r.Word();
    item.className = ControlClass(r);
    item.title = r.NameOrOrdinal();
    if (!item.title.empty() && item.title[0] == '#') item.title.clear();  // an icon or bitmap ordinal
    WORD extra = r.Word();
    r.Skip(extra);
    t.items.push_back(std::move(item));
  }
  return r.ok() && t.items.size() == count;
}

// ---- base units ----

void BaseUnits(HFONT font, int& x, int& y) {
  HDC hdc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(hdc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
  TEXTMETRIC tm{};
  GetTextMetrics(hdc, &tm);
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  SIZE size{};
  GetTextExtentPoint32(hdc, kAlphabet, 52, &size);
  SelectObject(hdc, old);
  DeleteDC(hdc);
  x = std::max(1, static_cast<int>((size.cx / 26 + 1) / 2));
  y = std::max(1, static_cast<int>(tm.tmHeight));
}

void MapRect(const DialogInfo& info, RECT& rc) {
  rc.left = MulDiv(rc.left, info.baseX, 4);
  rc.right = MulDiv(rc.right, info.baseX, 4);
  rc.top = MulDiv(rc.top, info.baseY, 8);
  rc.bottom = MulDiv(rc.bottom, info.baseY, 8);
}

using tavrin::controls::detail::StyleOf;
DWORD ExStyleOf(HWND hwnd) { return static_cast<DWORD>(GetWindowLongPtr(hwnd, GWL_EXSTYLE)); }
LRESULT DlgCode(HWND hwnd, const MSG* msg = nullptr) {
  return SendMessage(hwnd, WM_GETDLGCODE, msg ? msg->wParam : 0, reinterpret_cast<LPARAM>(msg));
}
// The control's own visibility: the dialog itself may not be shown yet.
bool Usable(HWND hwnd) { return (StyleOf(hwnd) & WS_VISIBLE) && IsWindowEnabled(hwnd); }

// The controls of a dialog in tab order: children in z-order, those of WS_EX_CONTROLPARENT children
// (property pages) in their place.
void Controls(HWND parent, std::vector<HWND>& out, int depth = 0) {
  for (HWND h = GetWindow(parent, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) {
    if ((ExStyleOf(h) & WS_EX_CONTROLPARENT) && depth < 8) {
      if (Usable(h)) Controls(h, out, depth + 1);
    } else {
      out.push_back(h);
    }
  }
}

// The dialog a control belongs to (the nearest ancestor that is no control parent).
bool IsPushButton(HWND hwnd) { return (DlgCode(hwnd) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) != 0; }

int DefaultId(HWND dialog) {
  LRESULT def = SendMessage(dialog, DM_GETDEFID, 0, 0);
  return HIWORD(static_cast<uintptr_t>(def)) == DC_HASDEFID ? LOWORD(static_cast<uintptr_t>(def)) : 0;
}

void SetButtonDefault(HWND button, bool isDefault) {
  if ((StyleOf(button) & BS_TYPEMASK) == BS_OWNERDRAW) return;  // its owner draws the default look
  LRESULT code = DlgCode(button);
  if (isDefault && (code & DLGC_UNDEFPUSHBUTTON)) SendMessage(button, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
  if (!isDefault && (code & DLGC_DEFPUSHBUTTON)) SendMessage(button, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
}

// Focus on a push button makes it the default for the while; elsewhere the dialog's default comes back.
void CheckDefaultButton(HWND dialog, HWND focus) {
  std::vector<HWND> controls;
  Controls(dialog, controls);
  HWND target = nullptr;
  if (focus && IsPushButton(focus)) {
    target = focus;
  } else if (int id = DefaultId(dialog)) {
    for (HWND h : controls)
      if (GetDlgCtrlID(h) == id) target = h;
  }
  for (HWND h : controls) {
    if (h == target) continue;
    if (DlgCode(h) & DLGC_DEFPUSHBUTTON) SetButtonDefault(h, false);
  }
  if (target) SetButtonDefault(target, true);
}

void SetDialogFocus(HWND dialog, HWND control) {
  if (!control) return;
  if (DlgCode(control) & DLGC_HASSETSEL) SendMessage(control, EM_SETSEL, 0, -1);
  SetFocus(control);
  CheckDefaultButton(dialog, control);
}

// The checked radio button of `control`'s group, or `control`.
HWND CheckedInGroup(HWND dialog, HWND control) {
  if (!(DlgCode(control) & DLGC_RADIOBUTTON) || SendMessage(control, BM_GETCHECK, 0, 0)) return control;
  HWND h = control;
  for (int n = 0; n < 256; ++n) {
    h = GetNextDlgGroupItem(dialog, h, FALSE);
    if (!h || h == control) break;
    if ((DlgCode(h) & DLGC_RADIOBUTTON) && SendMessage(h, BM_GETCHECK, 0, 0)) return h;
  }
  return control;
}

// The mnemonic of a control's text: the character after a single '&'.
char MnemonicOf(HWND hwnd) {
  char text[256] = {};
  GetWindowText(hwnd, text, sizeof text);
  for (const char* p = text; *p; ++p) {
    if (*p != '&') continue;
    if (p[1] == '&') {
      ++p;
      continue;
    }
    return static_cast<char>(std::tolower(static_cast<unsigned char>(p[1])));
  }
  return 0;
}

// Alt+letter (or a letter where the focus takes no characters): the control whose text has that
// mnemonic. A button is clicked (radio and check boxes get the focus too); a label hands the focus
// to the control after it.
bool RunMnemonic(HWND dialog, char typed) {
  char wanted = static_cast<char>(std::tolower(static_cast<unsigned char>(typed)));
  if (!wanted) return false;
  std::vector<HWND> controls;
  Controls(dialog, controls);
  for (size_t i = 0; i < controls.size(); ++i) {
    HWND h = controls[i];
    if (!Usable(h) || MnemonicOf(h) != wanted) continue;
    LRESULT code = DlgCode(h);
    if (code & DLGC_STATIC) {
      for (size_t j = i + 1; j < controls.size(); ++j) {
        if ((StyleOf(controls[j]) & WS_TABSTOP) && Usable(controls[j])) {
          SetDialogFocus(dialog, controls[j]);
          break;
        }
      }
      return true;
    }
    if (code & DLGC_BUTTON) {
      if (!(code & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON))) SetDialogFocus(dialog, h);
      SendMessage(h, BM_CLICK, 0, 0);
      return true;
    }
    SetDialogFocus(dialog, h);
    return true;
  }
  return false;
}

HWND FirstTabStop(HWND dialog) {
  HWND first = GetNextDlgTabItem(dialog, nullptr, FALSE);
  return first ? CheckedInGroup(dialog, first) : nullptr;
}

HWND CreateFromTemplate(const Template& t, HWND parent, DLGPROC proc, LPARAM initParam, bool modal) {
  tavrin::controls::RegisterStandardControls();
  tavrin::controls::RegisterCommonControls();  // templates name them by class
  tavrin::controls::RegisterListControls();
  tavrin::controls::RegisterTabControl();
  auto info = std::make_shared<DialogInfo>();
  info->proc = proc;
  info->modal = modal;
  if (t.hasFont) {
    int height = -MulDiv(t.pointSize, 96, 72);
    info->font = CreateFont(height, 0, 0, 0, t.weight ? t.weight : FW_NORMAL, t.italic, 0, 0, t.charset, 0, 0, 0, 0,
                            t.face.c_str());
    info->ownFont = info->font != nullptr;
  }
  BaseUnits(info->font, info->baseX, info->baseY);

  DWORD style = t.style & ~WS_VISIBLE;
  bool child = (style & WS_CHILD) != 0;
  HWND owner = parent;
  if (!child && parent) owner = GetAncestor(parent, GA_ROOT);
  info->owner = owner;
  RECT rc{t.x, t.y, t.x + t.cx, t.y + t.cy};
  MapRect(*info, rc);
  RECT frame{0, 0, rc.right - rc.left, rc.bottom - rc.top};
  AdjustWindowRectEx(&frame, style, !t.menu.empty(), t.exStyle);
  int x = rc.left, y = rc.top;
  if (!child && owner && !(style & DS_ABSALIGN)) {
    POINT origin{0, 0};
    ClientToScreen(owner, &origin);
    x += origin.x;
    y += origin.y;
  }
  std::string className = t.className.empty() ? WC_DIALOG : t.className;
  t_creating = info;
  HWND hwnd = CreateWindowEx(t.exStyle, className.c_str(), t.title.c_str(), style, x, y, frame.right - frame.left,
                             frame.bottom - frame.top, owner, nullptr, nullptr, nullptr);
  t_creating.reset();
  if (!hwnd) {
    if (info->ownFont) DeleteObject(info->font);
    return nullptr;
  }
  {
    std::lock_guard guard(g_lock);
    Dialogs().emplace(hwnd, info);  // a class that never called DefDlgProc
  }
  if (style & DS_CENTER) tavrin::win::CenterWindowOver(hwnd, owner);
  if (info->font) SendMessage(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(info->font), FALSE);

  for (const ItemTemplate& item : t.items) {
    RECT ir{item.x, item.y, item.x + item.cx, item.y + item.cy};
    MapRect(*info, ir);
    HWND control = CreateWindowEx(item.exStyle | WS_EX_NOPARENTNOTIFY, item.className.c_str(), item.title.c_str(),
                                  (item.style | WS_CHILD) & ~WS_POPUP, ir.left, ir.top, ir.right - ir.left,
                                  ir.bottom - ir.top, hwnd,
                                  reinterpret_cast<HMENU>(static_cast<uintptr_t>(item.id)), nullptr, nullptr);
    if (!control) {  // a dialog whose control cannot be made is no dialog
      DestroyWindow(hwnd);
      return nullptr;
    }
    if (info->font) SendMessage(control, WM_SETFONT, reinterpret_cast<WPARAM>(info->font), FALSE);
    if (!info->defId && (DlgCode(control) & DLGC_DEFPUSHBUTTON)) info->defId = static_cast<int>(item.id);
  }

  HWND first = FirstTabStop(hwnd);
  if (SendMessage(hwnd, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), initParam) && IsWindow(hwnd)) {
    HWND focus = FirstTabStop(hwnd);  // WM_INITDIALOG may have changed the controls
    if (focus) SetDialogFocus(hwnd, focus);
  }
  if (!IsWindow(hwnd)) return nullptr;
  if ((t.style & WS_VISIBLE) && !info->ended) ShowWindow(hwnd, SW_SHOWNORMAL);
  return hwnd;
}

bool LoadTemplate(LPCSTR name, Template& t) {
  HRSRC found = FindResource(nullptr, name, RT_DIALOG);
  if (!found) return false;
  HGLOBAL loaded = LoadResource(nullptr, found);
  auto* data = static_cast<const uint8_t*>(LockResource(loaded));
  DWORD size = SizeofResource(nullptr, found);
  return data && ParseTemplate(data, data + size, t);
}

INT_PTR RunModal(const Template& t, HWND parent, DLGPROC proc, LPARAM initParam) {
  HWND hwnd = CreateFromTemplate(t, parent, proc, initParam, true);
  if (!hwnd) return -1;
  auto info = InfoOf(hwnd);
  if (!info) return -1;
  HWND owner = info->owner;
  if (owner && !info->ended && IsWindowEnabled(owner)) {
    info->ownerDisabled = true;
    EnableWindow(owner, FALSE);
  }
  if (!info->ended && !IsWindowVisible(hwnd)) ShowWindow(hwnd, SW_SHOWNORMAL);
  bool quit = false;
  int quitCode = 0;
  while (!info->ended && IsWindow(hwnd)) {
    MSG msg;
    BOOL got = GetMessage(&msg, nullptr, 0, 0);
    if (got == 0) {  // WM_QUIT ends the dialog and goes on to the thread's own loop
      quit = true;
      quitCode = static_cast<int>(msg.wParam);
      break;
    }
    if (got < 0) break;
    if (!IsDialogMessage(hwnd, &msg)) {
      TranslateMessage(&msg);
      DispatchMessage(&msg);
    }
  }
  // The owner comes back before the dialog goes, so that it can take the activation.
  if (info->ownerDisabled.exchange(false) && IsWindow(owner)) EnableWindow(owner, TRUE);
  bool wasActive = GetActiveWindow() == hwnd;
  INT_PTR result = info->ended ? info->result.load() : -1;
  if (IsWindow(hwnd)) DestroyWindow(hwnd);
  if (wasActive && owner && IsWindow(owner)) SetForegroundWindow(owner);
  if (quit) PostQuitMessage(quitCode);
  return result;
}

}  // namespace

namespace tavrin::controls::detail {

bool DialogLong(HWND hwnd, int index, const LONG_PTR* newValue, LONG_PTR& value) {
  std::lock_guard guard(g_lock);
  auto it = Dialogs().find(hwnd);
  if (it == Dialogs().end()) return false;
  DialogInfo& info = *it->second;
  LONG_PTR* slot = nullptr;
  LONG_PTR procValue = reinterpret_cast<LONG_PTR>(info.proc);
  switch (index) {
    case DWLP_MSGRESULT: slot = &info.msgResult; break;
    case DWLP_USER: slot = &info.user; break;
    case DWLP_DLGPROC: slot = &procValue; break;
    default: return false;
  }
  value = *slot;
  if (newValue) {
    *slot = *newValue;
    if (index == DWLP_DLGPROC) info.proc = reinterpret_cast<DLGPROC>(*newValue);
  }
  return true;
}

}  // namespace tavrin::controls::detail

LRESULT DefDlgProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto info = InfoOf(hwnd);
  if (!info && t_creating) {
    info = t_creating;
    std::lock_guard guard(g_lock);
    Dialogs()[hwnd] = info;
  }
  if (!info) return DefWindowProc(hwnd, message, wParam, lParam);
  if (info->proc) {
    info->msgResult = 0;
    INT_PTR handled = info->proc(hwnd, message, wParam, lParam);
    switch (message) {
      case WM_CTLCOLORMSGBOX:
      case WM_CTLCOLOREDIT:
      case WM_CTLCOLORLISTBOX:
      case WM_CTLCOLORBTN:
      case WM_CTLCOLORDLG:
      case WM_CTLCOLORSCROLLBAR:
      case WM_CTLCOLORSTATIC:
      case WM_INITDIALOG:
        if (handled || message == WM_INITDIALOG) return handled;
        break;
      default:
        if (handled) {
          auto now = InfoOf(hwnd);
          return now ? now->msgResult : 0;
        }
        break;
    }
  }
  switch (message) {
    case WM_ERASEBKGND: {
      HDC hdc = reinterpret_cast<HDC>(wParam);
      auto brush = reinterpret_cast<HBRUSH>(SendMessage(hwnd, WM_CTLCOLORDLG, wParam, reinterpret_cast<LPARAM>(hwnd)));
      RECT rc;
      GetClientRect(hwnd, &rc);
      FillRect(hdc, &rc, brush ? brush : GetSysColorBrush(COLOR_3DFACE));
      return TRUE;
    }
    case WM_CLOSE:
      PostMessage(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(hwnd, IDCANCEL)));
      return 0;
    case DM_GETDEFID:
      return info->defId ? MAKELPARAM(info->defId, DC_HASDEFID) : 0;
    case DM_SETDEFID: {
      info->defId = static_cast<int>(wParam);
      CheckDefaultButton(hwnd, GetFocus());
      return TRUE;
    }
    case WM_NEXTDLGCTL: {
      HWND target;
      if (LOWORD(static_cast<uintptr_t>(lParam))) {
        target = reinterpret_cast<HWND>(wParam);
      } else {
        HWND focus = GetFocus();
        if (focus && !IsChild(hwnd, focus)) focus = nullptr;
        target = GetNextDlgTabItem(hwnd, focus, wParam != 0);
      }
      SetDialogFocus(hwnd, target);
      return 0;
    }
    case WM_ACTIVATE:
      if (LOWORD(wParam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(hwnd, focus)) info->focus = focus;
      }
      return 0;
    case WM_SETFOCUS: {
      HWND target = info->focus && IsWindow(info->focus) && IsChild(hwnd, info->focus) ? info->focus : FirstTabStop(hwnd);
      if (target) SetDialogFocus(hwnd, target);
      return 0;
    }
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(info->font);
    case WM_SETFONT:
      return 0;
    case WM_NCDESTROY: {
      LRESULT r = DefWindowProc(hwnd, message, wParam, lParam);
      {
        std::lock_guard guard(g_lock);
        Dialogs().erase(hwnd);
      }
      if (info->ownerDisabled.exchange(false) && IsWindow(info->owner)) EnableWindow(info->owner, TRUE);
      if (info->ownFont) DeleteObject(info->font);
      info->font = nullptr;
      return r;
    }
    default:
      return DefWindowProc(hwnd, message, wParam, lParam);
  }
}

HWND CreateDialogIndirectParam(HINSTANCE, LPCDLGTEMPLATE dialogTemplate, HWND parent, DLGPROC proc, LPARAM initParam) {
  Template t;
  if (!dialogTemplate || !ParseTemplate(reinterpret_cast<const uint8_t*>(dialogTemplate), nullptr, t)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return CreateFromTemplate(t, parent, proc, initParam, false);
}

HWND CreateDialogParam(HINSTANCE, LPCSTR name, HWND parent, DLGPROC proc, LPARAM initParam) {
  Template t;
  if (!LoadTemplate(name, t)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  return CreateFromTemplate(t, parent, proc, initParam, false);
}

HWND CreateDialog(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC proc) {
  return CreateDialogParam(instance, name, parent, proc, 0);
}

INT_PTR DialogBoxIndirectParam(HINSTANCE, LPCDLGTEMPLATE dialogTemplate, HWND parent, DLGPROC proc, LPARAM initParam) {
  Template t;
  if (!dialogTemplate || !ParseTemplate(reinterpret_cast<const uint8_t*>(dialogTemplate), nullptr, t)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  return RunModal(t, parent, proc, initParam);
}

INT_PTR DialogBoxParam(HINSTANCE, LPCSTR name, HWND parent, DLGPROC proc, LPARAM initParam) {
  Template t;
  if (!LoadTemplate(name, t)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return -1;
  }
  return RunModal(t, parent, proc, initParam);
}

INT_PTR DialogBox(HINSTANCE instance, LPCSTR name, HWND parent, DLGPROC proc) {
  return DialogBoxParam(instance, name, parent, proc, 0);
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  auto info = InfoOf(dialog);
  if (!info) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  info->result = result;
  info->ended = true;
  if (info->ownerDisabled.exchange(false) && IsWindow(info->owner)) EnableWindow(info->owner, TRUE);
  const bool wasActive = GetActiveWindow() == dialog;
  ShowWindow(dialog, SW_HIDE);
  // The owner takes the activation back, so that the keys go to it again.
  if (wasActive && info->owner && IsWindow(info->owner)) SetForegroundWindow(info->owner);
  PostMessage(dialog, WM_NULL, 0, 0);  // wakes the modal loop
  return TRUE;
}

HWND GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous) {
  std::vector<HWND> controls;
  Controls(dialog, controls);
  if (controls.empty()) return nullptr;
  size_t at = controls.size();
  for (size_t i = 0; i < controls.size(); ++i)
    if (controls[i] == control) at = i;
  size_t n = controls.size();
  for (size_t step = 1; step <= n; ++step) {
    size_t i;
    if (at == n) i = previous ? n - step : step - 1;
    else i = previous ? (at + n - step) % n : (at + step) % n;
    HWND h = controls[i];
    if ((StyleOf(h) & WS_TABSTOP) && Usable(h)) return h;
  }
  return control;
}

BOOL IsDialogMessage(HWND dialog, LPMSG msg) {
  if (!dialog || !msg || !msg->hwnd) return FALSE;
  if (msg->hwnd != dialog && !IsChild(dialog, msg->hwnd)) return FALSE;
  HWND focus = msg->hwnd;
  switch (msg->message) {
    case WM_KEYDOWN: {
      LRESULT code = DlgCode(focus, msg);
      if (code & DLGC_WANTALLKEYS) break;
      switch (static_cast<int>(msg->wParam)) {
        case VK_TAB: {
          if (code & DLGC_WANTTAB) break;
          bool back = GetKeyState(VK_SHIFT) < 0;
          HWND next = GetNextDlgTabItem(dialog, focus == dialog ? nullptr : focus, back);
          if (next) SetDialogFocus(dialog, CheckedInGroup(dialog, next));
          return TRUE;
        }
        case VK_LEFT:
        case VK_UP:
        case VK_RIGHT:
        case VK_DOWN: {
          if (code & DLGC_WANTARROWS) break;
          if (focus == dialog) return TRUE;
          bool back = msg->wParam == VK_LEFT || msg->wParam == VK_UP;
          HWND next = GetNextDlgGroupItem(GetParent(focus), focus, back);
          if (next && next != focus) {
            SetDialogFocus(dialog, next);
            LRESULT nextCode = DlgCode(next);
            if ((nextCode & DLGC_RADIOBUTTON) && (StyleOf(next) & BS_TYPEMASK) == BS_AUTORADIOBUTTON)
              SendMessage(next, BM_CLICK, 0, 0);
          }
          return TRUE;
        }
        case VK_RETURN: {
          int id;
          HWND button = nullptr;
          if (focus != dialog && (code & DLGC_DEFPUSHBUTTON)) {
            button = focus;
            id = GetDlgCtrlID(focus);
          } else {
            id = DefaultId(dialog);
            if (!id) id = IDOK;
            button = GetDlgItem(dialog, id);
          }
          if (button && !IsWindowEnabled(button)) return TRUE;  // a disabled default does nothing
          SendMessage(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
          return TRUE;
        }
        case VK_ESCAPE: {
          HWND cancel = GetDlgItem(dialog, IDCANCEL);
          if (cancel && !IsWindowEnabled(cancel)) return TRUE;
          SendMessage(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
          return TRUE;
        }
        default:
          break;
      }
      break;
    }
    case WM_CHAR: {
      LRESULT code = DlgCode(focus, msg);
      if (code & (DLGC_WANTCHARS | DLGC_WANTALLKEYS)) {
        if (msg->wParam == '\t' && !(code & (DLGC_WANTTAB | DLGC_WANTALLKEYS))) return TRUE;
        break;
      }
      if (msg->wParam == '\t' || msg->wParam == '\r' || msg->wParam == 0x1B) return TRUE;
      if (msg->wParam > ' ' && RunMnemonic(dialog, static_cast<char>(msg->wParam))) return TRUE;
      break;
    }
    case WM_SYSCHAR:
      if (RunMnemonic(dialog, static_cast<char>(msg->wParam))) return TRUE;
      break;
    default:
      break;
  }
  TranslateMessage(msg);
  DispatchMessage(msg);
  return TRUE;
}

BOOL MapDialogRect(HWND dialog, LPRECT rect) {
  auto info = InfoOf(dialog);
  if (!info || !rect) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  MapRect(*info, *rect);
  return TRUE;
}

LONG GetDialogBaseUnits() {
  static const LONG units = [] {
    int x, y;
    BaseUnits(nullptr, x, y);
    return static_cast<LONG>(MAKELPARAM(x, y));
  }();
  return units;
}

LRESULT SendDlgItemMessage(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
  HWND control = GetDlgItem(dialog, id);
  return control ? SendMessage(control, message, wParam, lParam) : 0;
}

UINT GetDlgItemText(HWND dialog, int id, LPSTR buffer, int size) {
  if (buffer && size > 0) buffer[0] = 0;
  HWND control = GetDlgItem(dialog, id);
  if (!control) return 0;
  return static_cast<UINT>(SendMessage(control, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(buffer)));
}

BOOL SetDlgItemText(HWND dialog, int id, LPCSTR text) {
  HWND control = GetDlgItem(dialog, id);
  if (!control) return FALSE;
  return SendMessage(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text ? text : "")) ? TRUE : FALSE;
}

UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned) {
  if (translated) *translated = FALSE;
  char text[64] = {};
  HWND control = GetDlgItem(dialog, id);
  if (!control) return 0;
  SendMessage(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  const char* p = text;
  while (*p == ' ') ++p;
  bool negative = false;
  if (isSigned && *p == '-') negative = true, ++p;
  if (*p < '0' || *p > '9') return 0;
  unsigned long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + static_cast<unsigned>(*p - '0');
    if (value > (isSigned ? 0x80000000ull : 0xFFFFFFFFull)) return 0;  // out of range: not translated
  }
  while (*p == ' ') ++p;
  if (*p) return 0;
  if (isSigned && !negative && value > 0x7FFFFFFFull) return 0;
  if (translated) *translated = TRUE;
  return negative ? static_cast<UINT>(-static_cast<long long>(value)) : static_cast<UINT>(value);
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned) {
  std::string text = isSigned ? std::to_string(static_cast<int>(value)) : std::to_string(value);
  return SetDlgItemText(dialog, id, text.c_str());
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
  HWND control = GetDlgItem(dialog, id);
  if (!control) return FALSE;
  SendMessage(control, BM_SETCHECK, check, 0);
  return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  return control ? static_cast<UINT>(SendMessage(control, BM_GETCHECK, 0, 0)) : 0;
}

BOOL CheckRadioButton(HWND dialog, int firstId, int lastId, int checkId) {
  for (int id = firstId; id <= lastId; ++id) {
    if (HWND control = GetDlgItem(dialog, id)) SendMessage(control, BM_SETCHECK, id == checkId ? BST_CHECKED : BST_UNCHECKED, 0);
  }
  return TRUE;
}

namespace tavrin::controls {

void RegisterDialogControls() {
  static std::once_flag once;
  std::call_once(once, [] {
    using detail::RegisterControlClass;
    RegisterControlClass(WC_DIALOG, DefDlgProc, CS_DBLCLKS | CS_SAVEBITS,
                         reinterpret_cast<HBRUSH>(static_cast<intptr_t>(COLOR_3DFACE + 1)));
    RegisterControlClass("Edit", detail::EditProcedure(), CS_DBLCLKS);
    RegisterControlClass("ListBox", detail::ListBoxProcedure(), CS_DBLCLKS);
    RegisterControlClass("ComboLBox", detail::ListBoxProcedure(), CS_SAVEBITS);
    RegisterControlClass("ComboBox", detail::ComboProcedure(), CS_DBLCLKS);
    RegisterControlClass("ScrollBar", detail::ScrollBarProcedure(), CS_DBLCLKS);
  });
}

}  // namespace tavrin::controls
