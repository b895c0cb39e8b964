// Message boxes. A test's sink answers first; then TAVRIN_MSGBOX_ANSWER when it holds a number. With a
// display the box is a modal dialog window (icon, text, buttons; Enter takes the default button, Escape
// cancels, Tab moves between the buttons); without one it is answered by its default button. Every
// answered box is also one line on stderr, so that a run's log tells what was asked.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "win32/controls.h"
#include "win32/dialog_template.h"
#include "win32/user.h"
#include "win32/user_draw.h"
#include "win32/window_manager.h"

namespace tavrin {
namespace {

struct SinkSlot {
  std::mutex lock;
  MessageBoxSink sink;
};

SinkSlot& Slot() {
  static auto* slot = new SinkSlot;  // never destroyed: boxes may be shown during exit
  return *slot;
}

std::vector<int> Buttons(UINT type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    default: return {IDOK};
  }
}

int DefaultButton(UINT type) {
  auto buttons = Buttons(type);
  size_t index = (type & MB_DEFMASK) >> 8;
  return buttons[index < buttons.size() ? index : 0];
}

// The scripted answer, or 0.
int ScriptedAnswer() {
  if (const char* fixed = getenv("TAVRIN_MSGBOX_ANSWER"); fixed && *fixed) {
    char* end = nullptr;
    long answer = strtol(fixed, &end, 10);
    if (*end == '\0' && answer > 0) return static_cast<int>(answer);
  }
  return 0;
}

// One line, whatever the text holds.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

// ---- the box's window ----

constexpr char kIconClass[] = "TavrinMessageBoxIcon";
constexpr int kIconId = 0xFFFE;  // beside the answer ids 1..7
constexpr int kTextId = 0xFFFF;
constexpr int kIconSize = 32, kMargin = 12, kGap = 8, kButtonWidth = 75, kButtonHeight = 23, kMaxTextWidth = 420;

LPCSTR ButtonText(int id) {
  switch (id) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case IDABORT: return "&Abort";
    case IDRETRY: return "&Retry";
    case IDIGNORE: return "&Ignore";
    case IDYES: return "&Yes";
    case IDNO: return "&No";
    default: return "";
  }
}

// The icon, drawn by code from the box's MB_ICON* kind (kept in the window's user data).
LRESULT CALLBACK IconProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ERASEBKGND) return TRUE;
  if (message != WM_PAINT) return DefWindowProc(hwnd, message, wParam, lParam);
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(hwnd, &ps);
  RECT rc;
  GetClientRect(hwnd, &rc);
  FillRect(hdc, &rc, GetSysColorBrush(COLOR_BTNFACE));
  const UINT kind = static_cast<UINT>(GetWindowLongPtr(hwnd, GWLP_USERDATA)) & MB_ICONMASK;
  const int s = std::min(rc.right, rc.bottom) - 1;
  COLORREF fill = RGB(32, 96, 200);
  LPCSTR mark = "i";
  if (kind == MB_ICONHAND) fill = RGB(208, 32, 32), mark = "X";
  if (kind == MB_ICONQUESTION) mark = "?";
  if (kind == MB_ICONEXCLAMATION) fill = RGB(240, 192, 0), mark = "!";
  HBRUSH brush = CreateSolidBrush(fill);
  HPEN pen = CreatePen(PS_SOLID, 1, kind == MB_ICONEXCLAMATION ? RGB(120, 90, 0) : RGB(255, 255, 255));
  HGDIOBJ oldBrush = SelectObject(hdc, brush), oldPen = SelectObject(hdc, pen);
  if (kind == MB_ICONEXCLAMATION) {
    const POINT triangle[] = {{s / 2, 1}, {s, s}, {0, s}};
    Polygon(hdc, triangle, 3);
  } else {
    Ellipse(hdc, 0, 0, s + 1, s + 1);
  }
  HFONT font = CreateFont(-s * 2 / 3, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "DejaVu Sans");
  HGDIOBJ oldFont = SelectObject(hdc, font);
  SetBkMode(hdc, TRANSPARENT);
  SetTextColor(hdc, kind == MB_ICONEXCLAMATION ? RGB(0, 0, 0) : RGB(255, 255, 255));
  RECT textRect{0, kind == MB_ICONEXCLAMATION ? s / 6 : 0, s + 1, s + 1};
  DrawText(hdc, mark, -1, &textRect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  SelectObject(hdc, oldFont);
  SelectObject(hdc, oldPen);
  SelectObject(hdc, oldBrush);
  DeleteObject(font);
  DeleteObject(pen);
  DeleteObject(brush);
  EndPaint(hwnd, &ps);
  return 0;
}

void RegisterIconClass() {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASS wc{};
    wc.lpfnWndProc = IconProc;
    wc.lpszClassName = kIconClass;
    RegisterClass(&wc);
  });
}

struct Box {
  std::string text;
  UINT type = 0;
};

HWND MakeChild(HWND dialog, LPCSTR className, LPCSTR text, DWORD style, int id, const RECT& rc) {
  HWND child = CreateWindowEx(WS_EX_NOPARENTNOTIFY, className, text, WS_CHILD | WS_VISIBLE | style, rc.left, rc.top,
                              rc.right - rc.left, rc.bottom - rc.top, dialog,
                              reinterpret_cast<HMENU>(static_cast<uintptr_t>(id)), nullptr, nullptr);
  if (child) SendMessage(child, WM_SETFONT, SendMessage(dialog, WM_GETFONT, 0, 0), FALSE);
  return child;
}

// Lays the box out around its text: icon, text, then the buttons centred in a row below.
void LayOut(HWND dialog, const Box& box) {
  HDC hdc = GetDC(dialog);
  HGDIOBJ old = SelectObject(hdc, reinterpret_cast<HGDIOBJ>(SendMessage(dialog, WM_GETFONT, 0, 0)));
  RECT measured{0, 0, kMaxTextWidth, 0};
  DrawText(hdc, box.text.c_str(), -1, &measured, DT_CALCRECT | DT_WORDBREAK);
  SelectObject(hdc, old);
  ReleaseDC(dialog, hdc);

  const bool icon = (box.type & MB_ICONMASK) != 0;
  const int textLeft = kMargin + (icon ? kIconSize + kMargin : 0);
  const int textHeight = std::max(static_cast<int>(measured.bottom), 14);
  const int top = icon ? kMargin + std::max(0, (kIconSize - textHeight) / 2) : kMargin;
  const auto buttons = Buttons(box.type);
  const int rowWidth = static_cast<int>(buttons.size()) * (kButtonWidth + kGap) - kGap;
  const int width = std::max({textLeft + static_cast<int>(measured.right) + kMargin, rowWidth + 2 * kMargin, 160});
  const int buttonsTop = std::max(top + textHeight, icon ? kMargin + kIconSize : 0) + kMargin + 4;
  const int height = buttonsTop + kButtonHeight + kMargin;

  if (icon) {
    if (HWND iconWindow = MakeChild(dialog, kIconClass, "", 0, kIconId, {kMargin, kMargin, kMargin + kIconSize,
                                                                          kMargin + kIconSize}))
      SetWindowLongPtr(iconWindow, GWLP_USERDATA, static_cast<LONG_PTR>(box.type & MB_ICONMASK));
  }
  MakeChild(dialog, "Static", box.text.c_str(), SS_LEFT, kTextId,
            {textLeft, top, textLeft + static_cast<int>(measured.right) + 2, top + textHeight});
  const int defaultId = DefaultButton(box.type);
  int x = (width - rowWidth) / 2;
  for (int id : buttons) {
    MakeChild(dialog, "Button", ButtonText(id), WS_TABSTOP | (id == defaultId ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON), id,
              {x, buttonsTop, x + kButtonWidth, buttonsTop + kButtonHeight});
    x += kButtonWidth + kGap;
  }
  SendMessage(dialog, DM_SETDEFID, static_cast<WPARAM>(defaultId), 0);

  RECT frame{0, 0, width, height};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtr(dialog, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtr(dialog, GWL_EXSTYLE)));
  const int outerWidth = frame.right - frame.left, outerHeight = frame.bottom - frame.top;
  // Centred over a shown owner, else on the screen.
  HWND owner = GetWindow(dialog, GW_OWNER);
  RECT over = tavrin::win::ScreenRect();
  if (owner && IsWindowVisible(owner) && !IsIconic(owner)) GetWindowRect(owner, &over);
  const RECT screen = tavrin::win::ScreenRect();
  const int left = std::clamp(static_cast<int>((over.left + over.right - outerWidth) / 2), 0,
                              std::max(0, static_cast<int>(screen.right) - outerWidth));
  const int boxTop = std::clamp(static_cast<int>((over.top + over.bottom - outerHeight) / 2), 0,
                                std::max(0, static_cast<int>(screen.bottom) - outerHeight));
  SetWindowPos(dialog, nullptr, left, boxTop, outerWidth, outerHeight, SWP_NOZORDER | SWP_NOACTIVATE);
  SetFocus(GetDlgItem(dialog, defaultId));
}

// The answer Escape and the close box give: Cancel where the box has it, OK for a box of one button;
// the others must be answered with a button.
int CancelAnswer(UINT type) {
  const auto buttons = Buttons(type);
  if (std::find(buttons.begin(), buttons.end(), IDCANCEL) != buttons.end()) return IDCANCEL;
  return buttons.size() == 1 ? buttons[0] : 0;
}

INT_PTR CALLBACK BoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      const Box& box = *reinterpret_cast<const Box*>(lParam);
      SetWindowLongPtr(dialog, DWLP_USER, static_cast<LONG_PTR>(box.type));
      LayOut(dialog, box);
      SetForegroundWindow(dialog);
      return FALSE;  // the focus is on the default button
    }
    case WM_COMMAND: {
      const UINT type = static_cast<UINT>(GetWindowLongPtr(dialog, DWLP_USER));
      int id = LOWORD(wParam);
      if (id == IDCANCEL && !GetDlgItem(dialog, IDCANCEL)) id = CancelAnswer(type);
      if (id >= IDOK && id <= IDNO && GetDlgItem(dialog, id)) EndDialog(dialog, id);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

// The box as a window over `owner`; its answer, or 0 when no window could be made.
int ShowBoxWindow(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  controls::RegisterStandardControls();
  RegisterIconClass();
  const DWORD exStyle = (type & (MB_TOPMOST | MB_SYSTEMMODAL)) || !owner ? WS_EX_TOPMOST : 0;
  win::DialogTemplate box(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME, 0, 0, 100, 40, caption, 8,
                          "MS Sans Serif", exStyle);
  Box content{text, type};
  INT_PTR answer = DialogBoxIndirectParam(nullptr, box.Get(), owner, BoxProc, reinterpret_cast<LPARAM>(&content));
  return answer > 0 ? static_cast<int>(answer) : 0;
}

}  // namespace

void SetMessageBoxSink(MessageBoxSink sink) {
  std::lock_guard guard(Slot().lock);
  Slot().sink = std::move(sink);
}

}  // namespace tavrin

int MessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  const std::string body = text ? text : "";
  const std::string title = caption ? caption : "Error";
  tavrin::MessageBoxSink sink;
  {
    std::lock_guard guard(tavrin::Slot().lock);
    sink = tavrin::Slot().sink;
  }
  if (sink) return sink(body, title, type);
  int answer = tavrin::ScriptedAnswer();
  if (!answer && tavrin::win::DisplayRunning()) answer = tavrin::ShowBoxWindow(owner, body, title, type);
  if (!answer) answer = tavrin::DefaultButton(type);
  fprintf(stderr, "MessageBox [%s] %s -> %d\n", tavrin::OneLine(title).c_str(), tavrin::OneLine(body).c_str(), answer);
  return answer;
}
