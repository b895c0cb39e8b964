// Drawing speed on a 1024 x 768 32-bit surface through GDI: solid fills, SRCCOPY blits and text, each
// against a plain memset / memcpy of the same bytes in the same run. Prints operations per second and
// the ratio to the baseline (the aim: at least 0.5 for fills and copies).
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "win32/gdi_hooks.h"

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;
constexpr size_t kBytes = size_t{kWidth} * kHeight * 4;

template <class F>
double PerSecond(F&& f, double seconds = 0.5) {
  using Clock = std::chrono::steady_clock;
  auto start = Clock::now();
  long n = 0;
  double elapsed = 0;
  do {
    for (int i = 0; i < 8; ++i) f(n + i);
    n += 8;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < seconds);
  return n / elapsed;
}

volatile uint8_t g_sink;

}  // namespace

int main() {
  HDC screen = GetDC(nullptr);
  HDC dst = CreateCompatibleDC(screen);
  HDC src = CreateCompatibleDC(screen);
  HBITMAP dstBitmap = CreateCompatibleBitmap(screen, kWidth, kHeight);
  HBITMAP srcBitmap = CreateCompatibleBitmap(screen, kWidth, kHeight);
  ReleaseDC(nullptr, screen);
  HGDIOBJ oldDst = SelectObject(dst, dstBitmap);
  HGDIOBJ oldSrc = SelectObject(src, srcBitmap);
  HBRUSH brushes[2] = {CreateSolidBrush(RGB(10, 20, 30)), CreateSolidBrush(RGB(200, 100, 50))};
  RECT all{0, 0, kWidth, kHeight};
  std::vector<uint8_t> a(kBytes), b(kBytes);

  double memsetRate = PerSecond([&](long i) {
    std::memset(a.data(), static_cast<int>(i & 0xFF), kBytes);
    g_sink = a[i % kBytes];
  });
  double fillRate = PerSecond([&](long i) { FillRect(dst, &all, brushes[i & 1]); });
  double memcpyRate = PerSecond([&](long i) {
    std::memcpy(b.data(), a.data(), kBytes);
    g_sink = b[i % kBytes];
  });
  double blitRate = PerSecond([&](long) { BitBlt(dst, 0, 0, kWidth, kHeight, src, 0, 0, SRCCOPY); });

  HFONT font = CreateFont(-12, 0, 0, 0, 400, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Tahoma");
  HGDIOBJ oldFont = SelectObject(dst, font);
  SetBkMode(dst, TRANSPARENT);
  const char* line = "The quick brown fox jumps over the lazy dog 0123456789";
  int length = static_cast<int>(std::strlen(line));
  double textRate = PerSecond([&](long i) { TextOut(dst, static_cast<int>(i % 400), static_cast<int>(i % 700), line, length); });
  RECT box{0, 0, 300, 200};
  double drawTextRate = PerSecond([&](long) {
    RECT r = box;
    DrawText(dst, line, length, &r, DT_WORDBREAK | DT_END_ELLIPSIS);
  });

  std::printf("surface %dx%d, %zu bytes\n", kWidth, kHeight, kBytes);
  std::printf("solid fill   %10.1f /s   memset %10.1f /s   ratio %.2f\n", fillRate, memsetRate, fillRate / memsetRate);
  std::printf("SRCCOPY blit %10.1f /s   memcpy %10.1f /s   ratio %.2f\n", blitRate, memcpyRate, blitRate / memcpyRate);
  std::printf("TextOut      %10.1f lines/s (%d characters each)\n", textRate, length);
  std::printf("DrawText     %10.1f calls/s (word break, ellipsis)\n", drawTextRate);

  SelectObject(dst, oldFont);
  DeleteObject(font);
  SelectObject(dst, oldDst);
  SelectObject(src, oldSrc);
  DeleteObject(dstBitmap);
  DeleteObject(srcBitmap);
  for (HBRUSH brush : brushes) DeleteObject(brush);
  DeleteDC(dst);
  DeleteDC(src);
  return 0;
}
