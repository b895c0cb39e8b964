// The animation control: an uncompressed AVI clip (a resource of type "AVI" or a file) held in memory
// and played on a timer at its frame rate; the frame in view is kept in one DIB section of the clip's
// size. ACS_TRANSPARENT draws the clip's first pixel colour as the parent's background.
#include <vector>

#include "comctl_internal.h"
#include "win32/avi.h"
#include "win32/file.h"
#include "win32/handle.h"
#include "win32/resources.h"

namespace tavrin::controls::detail {
namespace {

constexpr char kProp[] = "TavrinAnimateState";
constexpr UINT_PTR kFrameTimer = 1;
constexpr DWORD kMaxFileBytes = 64u << 20;

struct State {
  std::vector<uint8_t> data;
  avi::Clip clip;
  bool open = false;
  size_t frame = 0;
  size_t from = 0, to = 0;
  long remaining = 0;  // plays still due after this one; -1 without end
  bool playing = false;
  HBITMAP dib = nullptr;
  uint32_t* bits = nullptr;
  uint32_t key = 0;  // the transparent colour (0x00RRGGBB)
  std::vector<uint32_t> scratch;
};

void FreeDib(State& s) {
  if (s.dib) DeleteObject(s.dib);
  s.dib = nullptr;
  s.bits = nullptr;
}

bool ShowFrame(HWND hwnd, State& s, size_t index) {
  if (!s.open || !s.bits || !avi::DecodeFrame(s.data, s.clip, index, s.scratch)) return false;
  std::copy(s.scratch.begin(), s.scratch.end(), s.bits);
  s.frame = index;
  InvalidateRect(hwnd, nullptr, FALSE);
  return true;
}

void Stop(HWND hwnd, State& s) {
  KillTimer(hwnd, kFrameTimer);
  if (!s.playing) return;
  s.playing = false;
  CommandToParent(hwnd, ACN_STOP);
}

void Close(HWND hwnd, State& s) {
  Stop(hwnd, s);
  FreeDib(s);
  s.data.clear();
  s.clip = avi::Clip{};
  s.open = false;
  InvalidateRect(hwnd, nullptr, TRUE);
}

bool ReadClipFile(LPCSTR path, std::vector<uint8_t>& out) {
  HANDLE file = CreateFile(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD high = 0;
  DWORD size = GetFileSize(file, &high);
  bool ok = high == 0 && size != INVALID_FILE_SIZE && size <= kMaxFileBytes;
  if (ok) {
    out.resize(size);
    DWORD got = 0;
    ok = size == 0 || (ReadFile(file, out.data(), size, &got, nullptr) && got == size);
  }
  CloseHandle(file);
  return ok;
}

bool LoadClipBytes(HINSTANCE instance, LPCSTR name, std::vector<uint8_t>& out) {
  if (HRSRC res = FindResource(instance, name, RT_AVI_TYPE)) {
    HGLOBAL handle = LoadResource(instance, res);
    const auto* bytes = static_cast<const uint8_t*>(LockResource(handle));
    DWORD size = SizeofResource(instance, res);
    if (!bytes) return false;
    out.assign(bytes, bytes + size);
    return true;
  }
  return !IS_INTRESOURCE(name) && ReadClipFile(name, out);
}

BOOL Open(HWND hwnd, State& s, HINSTANCE instance, LPCSTR name) {
  Close(hwnd, s);
  if (!name) return TRUE;  // closing is all that was asked
  std::vector<uint8_t> bytes;
  avi::Clip clip;
  if (!LoadClipBytes(instance, name, bytes) || !avi::Parse(bytes, clip)) return FALSE;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = clip.width;
  info.bmiHeader.biHeight = -clip.height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  s.dib = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!s.dib || !bits) {
    FreeDib(s);
    return FALSE;
  }
  s.bits = static_cast<uint32_t*>(bits);
  s.data = std::move(bytes);
  s.clip = std::move(clip);
  s.open = true;
  if (!ShowFrame(hwnd, s, 0)) {
    Close(hwnd, s);
    return FALSE;
  }
  s.key = s.bits[0] & 0x00FFFFFF;
  if (!(StyleOf(hwnd) & ACS_CENTER)) {
    SetWindowPos(hwnd, nullptr, 0, 0, s.clip.width, s.clip.height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  if (StyleOf(hwnd) & ACS_AUTOPLAY) SendMessage(hwnd, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF));
  return TRUE;
}

BOOL Play(HWND hwnd, State& s, UINT repeat, WORD from, WORD to) {
  if (!s.open) return FALSE;
  const size_t last = s.clip.frames.size() - 1;
  const size_t end = to == 0xFFFF ? last : to;
  if (from > end || end > last) return FALSE;
  Stop(hwnd, s);
  s.from = from;
  s.to = end;
  ShowFrame(hwnd, s, from);
  if (from == end) return TRUE;  // one frame: shown, nothing to play
  s.remaining = repeat == static_cast<UINT>(-1) ? -1 : std::max<long>(static_cast<long>(repeat) - 1, 0);
  s.playing = true;
  const UINT interval = std::max<UINT>(s.clip.microSecPerFrame / 1000, 1);
  SetTimer(hwnd, kFrameTimer, interval, nullptr);
  CommandToParent(hwnd, ACN_START);
  return TRUE;
}

void Advance(HWND hwnd, State& s) {
  if (!s.playing) return;
  if (s.frame < s.to) {
    ShowFrame(hwnd, s, s.frame + 1);
    return;
  }
  if (s.remaining == 0) {
    Stop(hwnd, s);
    return;
  }
  if (s.remaining > 0) --s.remaining;
  ShowFrame(hwnd, s, s.from);
}

void Paint(HWND hwnd, State& s) {
  PAINTSTRUCT ps;
  HDC hdc = BeginPaint(hwnd, &ps);
  RECT client;
  GetClientRect(hwnd, &client);
  HBRUSH back = nullptr;
  if (HWND parent = GetParent(hwnd)) {
    back = reinterpret_cast<HBRUSH>(
        SendMessage(parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(hdc), reinterpret_cast<LPARAM>(hwnd)));
  }
  FillRect(hdc, &client, back ? back : GetSysColorBrush(COLOR_BTNFACE));
  if (s.open && s.dib) {
    int x = 0, y = 0;
    if (StyleOf(hwnd) & ACS_CENTER) {
      x = (client.right - s.clip.width) / 2;
      y = (client.bottom - s.clip.height) / 2;
    }
    HDC memory = CreateCompatibleDC(hdc);
    HGDIOBJ old = SelectObject(memory, s.dib);
    if (StyleOf(hwnd) & ACS_TRANSPARENT) {
      const COLORREF key = RGB((s.key >> 16) & 0xFF, (s.key >> 8) & 0xFF, s.key & 0xFF);
      TransparentBlt(hdc, x, y, s.clip.width, s.clip.height, memory, 0, 0, s.clip.width, s.clip.height, key);
    } else {
      BitBlt(hdc, x, y, s.clip.width, s.clip.height, memory, 0, 0, SRCCOPY);
    }
    SelectObject(memory, old);
    DeleteDC(memory);
  }
  EndPaint(hwnd, &ps);
}

LRESULT CALLBACK AnimateProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  State* s = StateOf<State>(hwnd, kProp, message);
  if (!s) return DefWindowProc(hwnd, message, wParam, lParam);
  switch (message) {
    case ACM_OPENA:
      return Open(hwnd, *s, reinterpret_cast<HINSTANCE>(wParam), reinterpret_cast<LPCSTR>(lParam));
    case ACM_PLAY:
      return Play(hwnd, *s, static_cast<UINT>(wParam), LOWORD(static_cast<uintptr_t>(lParam)),
                  HIWORD(static_cast<uintptr_t>(lParam)));
    case ACM_STOP:
      Stop(hwnd, *s);
      return TRUE;
    case ACM_ISPLAYING:
      return s->playing;
    case WM_TIMER:
      if (wParam == kFrameTimer) Advance(hwnd, *s);
      return 0;
    case WM_DESTROY:
      KillTimer(hwnd, kFrameTimer);
      s->playing = false;
      break;
    case WM_NCDESTROY:
      FreeDib(*s);
      break;
    default:
      break;
  }
  return DefControlProc(hwnd, message, wParam, lParam, kProp, s, Paint);
}

}  // namespace

void RegisterAnimate() { RegisterControlClass(ANIMATE_CLASS, AnimateProc); }

}  // namespace tavrin::controls::detail
