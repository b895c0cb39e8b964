#include "pictures.h"

#include <cmath>
#include <cstring>
#include <functional>
#include <map>

#include "win32/avi.h"
#include "win32/windows.h"

namespace rescomp {
namespace {

constexpr double kPi = 3.14159265358979;
constexpr COLORREF kOutline = RGB(40, 40, 48);
constexpr COLORREF kIconBackground = RGB(192, 192, 192);

// A 24-bit bottom-up DIB section with a memory DC on it, filled with one colour.
class Canvas {
 public:
  Canvas(int width, int height, COLORREF background) : width_(width), height_(height) {
    info_.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info_.bmiHeader.biWidth = width;
    info_.bmiHeader.biHeight = height;
    info_.bmiHeader.biPlanes = 1;
    info_.bmiHeader.biBitCount = 24;
    bitmap_ = CreateDIBSection(nullptr, &info_, DIB_RGB_COLORS, &bits_, nullptr, 0);
    dc_ = CreateCompatibleDC(nullptr);
    old_ = SelectObject(dc_, bitmap_);
    RECT all{0, 0, width, height};
    HBRUSH brush = CreateSolidBrush(background);
    FillRect(dc_, &all, brush);
    DeleteObject(brush);
  }
  ~Canvas() {
    SelectObject(dc_, old_);
    DeleteDC(dc_);
    DeleteObject(bitmap_);
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  HDC dc() const { return dc_; }
  size_t Stride() const { return ((static_cast<size_t>(width_) * 24 + 31) / 32) * 4; }
  const uint8_t* Rows() {
    GdiFlush();
    return static_cast<const uint8_t*>(bits_);
  }
  // The header, then the rows.
  Bytes PackedDib() {
    const size_t rows = Stride() * static_cast<size_t>(height_);
    Bytes packed(sizeof(BITMAPINFOHEADER) + rows);
    std::memcpy(packed.data(), &info_.bmiHeader, sizeof(BITMAPINFOHEADER));
    std::memcpy(packed.data() + sizeof(BITMAPINFOHEADER), Rows(), rows);
    return packed;
  }

 private:
  int width_, height_;
  BITMAPINFO info_{};
  void* bits_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HDC dc_ = nullptr;
  HGDIOBJ old_ = nullptr;
};

// Draws on a grid of 20 x 20 units laid over one square of the canvas.
class Pen20 {
 public:
  Pen20(HDC dc, int x, int y, int size) : dc_(dc), x_(x), y_(y), k_(size / 20.0) {}

  POINT P(double x, double y) const {
    return {x_ + static_cast<LONG>(std::lround(x * k_)), y_ + static_cast<LONG>(std::lround(y * k_))};
  }
  int Width(double units) const { return std::max(1, static_cast<int>(std::lround(units * k_))); }

  void Polygon(std::initializer_list<std::pair<double, double>> points, COLORREF fill, COLORREF line = kOutline) {
    std::vector<POINT> at;
    for (auto [x, y] : points) at.push_back(P(x, y));
    Shape(fill, line, [&] { ::Polygon(dc_, at.data(), static_cast<int>(at.size())); });
  }
  void Box(double l, double t, double r, double b, COLORREF fill, COLORREF line = kOutline) {
    POINT a = P(l, t), z = P(r, b);
    Shape(fill, line, [&] { Rectangle(dc_, a.x, a.y, z.x, z.y); });
  }
  void Round(double l, double t, double r, double b, double radius, COLORREF fill, COLORREF line = kOutline) {
    POINT a = P(l, t), z = P(r, b);
    const int corner = Width(radius * 2);
    Shape(fill, line, [&] { RoundRect(dc_, a.x, a.y, z.x, z.y, corner, corner); });
  }
  void Disc(double cx, double cy, double radius, COLORREF fill, COLORREF line = kOutline) {
    POINT a = P(cx - radius, cy - radius), z = P(cx + radius, cy + radius);
    Shape(fill, line, [&] { Ellipse(dc_, a.x, a.y, z.x, z.y); });
  }
  // A line of the given width in units through the points.
  void Stroke(std::initializer_list<std::pair<double, double>> points, COLORREF colour, double width) {
    std::vector<POINT> at;
    for (auto [x, y] : points) at.push_back(P(x, y));
    HPEN pen = CreatePen(PS_SOLID, Width(width), colour);
    HGDIOBJ old = SelectObject(dc_, pen);
    Polyline(dc_, at.data(), static_cast<int>(at.size()));
    SelectObject(dc_, old);
    DeleteObject(pen);
  }
  // An arc of a circle from one angle to another (degrees, counter-clockwise from three o'clock).
  void Arc(double cx, double cy, double radius, double from, double to, COLORREF colour, double width) {
    std::vector<POINT> at;
    const int steps = 24;
    for (int i = 0; i <= steps; ++i) {
      const double angle = (from + (to - from) * i / steps) * kPi / 180;
      at.push_back(P(cx + radius * std::cos(angle), cy - radius * std::sin(angle)));
    }
    HPEN pen = CreatePen(PS_SOLID, Width(width), colour);
    HGDIOBJ old = SelectObject(dc_, pen);
    Polyline(dc_, at.data(), static_cast<int>(at.size()));
    SelectObject(dc_, old);
    DeleteObject(pen);
  }
  // A text centred on a point, its height in units.
  void Label(const char* text, double cx, double cy, double height, COLORREF colour) {
    HFONT font = CreateFont(-Width(height), 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, ANTIALIASED_QUALITY, 0,
                            "DejaVu Sans");
    HGDIOBJ old = SelectObject(dc_, font);
    SetBkMode(dc_, TRANSPARENT);
    SetTextColor(dc_, colour);
    SIZE extent{};
    GetTextExtentPoint32(dc_, text, static_cast<int>(std::strlen(text)), &extent);
    POINT centre = P(cx, cy);
    TextOut(dc_, centre.x - extent.cx / 2, centre.y - extent.cy / 2, text, static_cast<int>(std::strlen(text)));
    SelectObject(dc_, old);
    DeleteObject(font);
  }

 private:
  void Shape(COLORREF fill, COLORREF line, const std::function<void()>& draw) {
    HBRUSH brush = CreateSolidBrush(fill);
    HPEN pen = CreatePen(PS_SOLID, 1, line);
    HGDIOBJ oldBrush = SelectObject(dc_, brush), oldPen = SelectObject(dc_, pen);
    draw();
    SelectObject(dc_, oldBrush);
    SelectObject(dc_, oldPen);
    DeleteObject(brush);
    DeleteObject(pen);
  }

  HDC dc_;
  int x_, y_;
  double k_;
};

// ---- the pictograms ----

void Server(Pen20& p, double l, double t, double r, double b) {
  p.Round(l, t, r, b, 1.5, RGB(96, 112, 140));
  const double row = (b - t) / 3;
  for (int i = 0; i < 2; ++i) {
    const double y = t + row * (i + 1);
    p.Stroke({{l + 2, y}, {r - 4, y}}, RGB(210, 218, 232), 1);
    p.Disc(r - 2.2, y, 0.9, RGB(60, 220, 90), RGB(60, 220, 90));
  }
}

void Monitor(Pen20& p, double l, double t, double r, double b) {
  p.Box(l, t, r, b, RGB(70, 70, 80));
  p.Box(l + 1.2, t + 1.2, r - 1.2, b - 1.2, RGB(120, 190, 245), RGB(120, 190, 245));
  const double mid = (l + r) / 2;
  p.Polygon({{mid - 1, b}, {mid + 1, b}, {mid + 2, b + 2}, {mid - 2, b + 2}}, RGB(70, 70, 80));
}

void Arrow(Pen20& p, double x0, double y0, double x1, double y1, COLORREF colour, double width) {
  p.Stroke({{x0, y0}, {x1, y1}}, colour, width);
  const double dx = x1 - x0, dy = y1 - y0, length = std::sqrt(dx * dx + dy * dy);
  const double ux = dx / length, uy = dy / length, head = width * 2.2;
  p.Polygon({{x1 + ux * head * 0.6, y1 + uy * head * 0.6},
             {x1 - ux * head + uy * head, y1 - uy * head - ux * head},
             {x1 - ux * head - uy * head, y1 - uy * head + ux * head}},
            colour, colour);
}

void Plug(Pen20& p, double socketLeft, COLORREF colour) {
  p.Box(1.5, 6.5, 8, 13.5, colour);
  p.Box(8, 7.8, socketLeft, 9.2, RGB(210, 190, 90));
  p.Box(8, 10.8, socketLeft, 12.2, RGB(210, 190, 90));
  p.Box(socketLeft, 5.5, socketLeft + 5, 14.5, RGB(120, 120, 130));
}

void Padlock(Pen20& p, bool open) {
  // An open shackle stands up on its right leg only.
  const double shackle = open ? 12 : 10;
  p.Arc(shackle, open ? 6 : 8.5, 3.5, 0, 180, RGB(110, 110, 120), 1.8);
  p.Stroke({{shackle - 3.5, open ? 6 : 8.5}, {shackle - 3.5, open ? 7.5 : 10}}, RGB(110, 110, 120), 1.8);
  p.Stroke({{shackle + 3.5, open ? 6 : 8.5}, {shackle + 3.5, 10}}, RGB(110, 110, 120), 1.8);
  p.Round(4, 9.5, 16, 18, 1, RGB(232, 180, 40));
  p.Disc(10, 13, 1.2, RGB(60, 40, 10), RGB(60, 40, 10));
  p.Stroke({{10, 13}, {10, 16}}, RGB(60, 40, 10), 1);
}

void Window(Pen20& p) {
  p.Box(2, 3, 18, 17, RGB(250, 250, 250));
  p.Box(2, 3, 18, 5.5, RGB(40, 90, 170));
}

void Page(Pen20& p) {
  p.Polygon({{4, 2}, {13, 2}, {16, 5}, {16, 18}, {4, 18}}, RGB(252, 252, 252));
  for (double y = 7; y < 16; y += 2.5) p.Stroke({{6.5, y}, {13.5, y}}, RGB(150, 160, 180), 1);
}

// A coloured box standing for one USB device, as the device tree shows its states.
void DeviceState(Pen20& p, COLORREF colour) {
  p.Round(3, 5, 17, 15, 2.5, colour);
  p.Box(7, 8.5, 13, 11.5, RGB(250, 250, 250));
}

const std::map<std::string, std::function<void(Pen20&)>>& Glyphs() {
  static const std::map<std::string, std::function<void(Pen20&)>> glyphs = {
      {"settings",
       [](Pen20& p) {
         // A gear: eight teeth around a wheel with a hole.
         for (int i = 0; i < 8; ++i) {
           const double a = i * kPi / 4, c = std::cos(a), s = std::sin(a);
           p.Polygon({{10 + 6 * c - 1.4 * s, 10 + 6 * s + 1.4 * c},
                      {10 + 8.8 * c - 1.2 * s, 10 + 8.8 * s + 1.2 * c},
                      {10 + 8.8 * c + 1.2 * s, 10 + 8.8 * s - 1.2 * c},
                      {10 + 6 * c + 1.4 * s, 10 + 6 * s - 1.4 * c}},
                     RGB(130, 135, 150));
         }
         p.Disc(10, 10, 6.2, RGB(130, 135, 150), RGB(130, 135, 150));
         p.Disc(10, 10, 2.6, RGB(250, 250, 250));
       }},
      {"exit",
       [](Pen20& p) {
         p.Box(3, 2, 12, 18, RGB(150, 95, 50));
         p.Disc(10, 10.5, 0.8, RGB(240, 210, 80), RGB(240, 210, 80));
         Arrow(p, 9, 10, 16, 10, RGB(30, 150, 60), 2);
       }},
      {"server", [](Pen20& p) { Server(p, 3, 3, 17, 17); }},
      {"server-manager",
       [](Pen20& p) {
         Server(p, 1.5, 3, 12, 16);
         p.Arc(14, 14, 3, 0, 360, RGB(60, 60, 70), 1.8);
         p.Stroke({{16.2, 16.2}, {19, 19}}, RGB(60, 60, 70), 2.2);
       }},
      {"device-mapping",
       [](Pen20& p) {
         Server(p, 1, 5, 7.5, 15);
         Monitor(p, 11.5, 4, 19, 12);
         p.Stroke({{7.5, 10}, {11.5, 10}}, RGB(30, 100, 200), 1.2);
         p.Disc(9.5, 10, 1.1, RGB(30, 100, 200), RGB(30, 100, 200));
       }},
      {"search",
       [](Pen20& p) {
         p.Stroke({{12, 12}, {18, 18}}, RGB(120, 70, 30), 2.6);
         p.Disc(8, 8, 5.5, RGB(200, 230, 250), RGB(50, 50, 60));
         p.Arc(8, 8, 5.5, 0, 360, RGB(50, 50, 60), 1.5);
       }},
      {"unlock", [](Pen20& p) { Padlock(p, true); }},
      {"lock", [](Pen20& p) { Padlock(p, false); }},
      {"upgrade",
       [](Pen20& p) {
         for (double x = 4.5; x < 16; x += 3) {
           p.Stroke({{x, 5}, {x, 17}}, RGB(170, 170, 175), 1);
         }
         p.Box(3, 7, 15, 15, RGB(50, 55, 65));
         Arrow(p, 14.5, 17, 14.5, 4, RGB(30, 170, 70), 2.2);
       }},
      {"configure",
       [](Pen20& p) {
         const double knobs[] = {6, 13, 9};
         for (int i = 0; i < 3; ++i) {
           const double y = 5 + i * 5;
           p.Stroke({{3, y}, {17, y}}, RGB(90, 90, 100), 1.2);
           p.Box(knobs[i] - 1.5, y - 2, knobs[i] + 1.5, y + 2, RGB(40, 110, 200));
         }
       }},
      {"restore",
       [](Pen20& p) {
         p.Arc(10, 10.5, 6, 110, 400, RGB(220, 120, 20), 2.2);
         p.Polygon({{2.5, 5}, {8, 3.5}, {5.5, 9}}, RGB(220, 120, 20), RGB(220, 120, 20));
       }},
      {"start", [](Pen20& p) { p.Polygon({{5, 3}, {17, 10}, {5, 17}}, RGB(40, 170, 60)); }},
      {"stop", [](Pen20& p) { p.Round(4, 4, 16, 16, 1.5, RGB(210, 40, 40)); }},
      {"connect", [](Pen20& p) { Plug(p, 13, RGB(40, 160, 70)); }},
      {"disconnect",
       [](Pen20& p) {
         Plug(p, 14.5, RGB(200, 50, 40));
         p.Stroke({{11.5, 4}, {11.5, 16}}, RGB(200, 50, 40), 0.8);
       }},
      {"printer",
       [](Pen20& p) {
         p.Box(5.5, 2, 14.5, 8, RGB(252, 252, 252));
         p.Round(2, 7, 18, 15, 1.5, RGB(110, 115, 130));
         p.Box(5.5, 12, 14.5, 18, RGB(252, 252, 252));
         p.Disc(15.5, 9.5, 0.8, RGB(60, 220, 90), RGB(60, 220, 90));
       }},
      {"toolbar",
       [](Pen20& p) {
         Window(p);
         for (int i = 0; i < 3; ++i) p.Box(3.5 + i * 4, 7, 6.5 + i * 4, 10, RGB(240, 180, 50));
       }},
      {"panel-left",
       [](Pen20& p) {
         Window(p);
         p.Box(2, 5.5, 7.5, 17, RGB(120, 190, 245));
       }},
      {"panel-bottom",
       [](Pen20& p) {
         Window(p);
         p.Box(2, 12.5, 18, 17, RGB(120, 190, 245));
       }},
      {"panel-right",
       [](Pen20& p) {
         Window(p);
         p.Box(12.5, 5.5, 18, 17, RGB(120, 190, 245));
       }},
      {"help",
       [](Pen20& p) {
         p.Disc(10, 10, 8, RGB(40, 110, 200));
         p.Label("?", 10, 10, 12, RGB(255, 255, 255));
       }},
      {"about",
       [](Pen20& p) {
         p.Disc(10, 10, 8, RGB(40, 110, 200));
         p.Label("i", 10, 10, 12, RGB(255, 255, 255));
       }},
      {"clear",
       [](Pen20& p) {
         Page(p);
         p.Stroke({{7, 8}, {15, 17}}, RGB(210, 40, 40), 2.2);
         p.Stroke({{15, 8}, {7, 17}}, RGB(210, 40, 40), 2.2);
       }},
      {"save",
       [](Pen20& p) {
         p.Polygon({{2, 2}, {16, 2}, {18, 4}, {18, 18}, {2, 18}}, RGB(40, 70, 150));
         p.Box(5, 2, 14, 8, RGB(200, 205, 215));
         p.Box(11, 3, 13, 7, RGB(40, 70, 150));
         p.Box(4.5, 11, 15.5, 18, RGB(250, 250, 250));
       }},
      {"program",
       [](Pen20& p) {
         p.Round(1, 1, 19, 19, 3, RGB(20, 110, 150));
         // A plug's trident: a stem, a round and a square end on branches.
         const COLORREF white = RGB(255, 255, 255);
         p.Stroke({{10, 4}, {10, 15}}, white, 1.6);
         p.Polygon({{10, 2.5}, {12, 5}, {8, 5}}, white, white);
         p.Stroke({{10, 12}, {6, 9}, {6, 7}}, white, 1.3);
         p.Stroke({{10, 10}, {14, 8}, {14, 6.5}}, white, 1.3);
         p.Disc(6, 6.5, 1.3, white, white);
         p.Box(13, 5, 15.2, 7, white, white);
         p.Disc(10, 16, 1.8, white, white);
       }},
      {"ok",
       [](Pen20& p) { p.Stroke({{3.5, 10.5}, {8, 15}, {16.5, 5}}, RGB(30, 150, 60), 3); }},
      {"ok-hot",
       [](Pen20& p) { p.Stroke({{3.5, 10.5}, {8, 15}, {16.5, 5}}, RGB(60, 200, 90), 3); }},
      {"cancel",
       [](Pen20& p) {
         p.Stroke({{5, 5}, {15, 15}}, RGB(200, 40, 40), 3);
         p.Stroke({{15, 5}, {5, 15}}, RGB(200, 40, 40), 3);
       }},
      {"state-free", [](Pen20& p) { DeviceState(p, RGB(85, 177, 45)); }},
      {"state-changing", [](Pen20& p) { DeviceState(p, RGB(0, 147, 181)); }},
      {"state-busy", [](Pen20& p) { DeviceState(p, RGB(220, 40, 40)); }},
  };
  return glyphs;
}

}  // namespace

bool IsGlyph(const std::string& name) { return Glyphs().count(name) != 0; }

std::string GlyphNames() {
  std::string names;
  for (auto& [name, draw] : Glyphs()) names += (names.empty() ? "" : " ") + name;
  return names;
}

Bytes GlyphStrip(const std::vector<std::string>& glyphs, int size, COLORREF background) {
  Canvas canvas(size * static_cast<int>(glyphs.size()), size, background);
  for (size_t i = 0; i < glyphs.size(); ++i) {
    Pen20 pen(canvas.dc(), static_cast<int>(i) * size, 0, size);
    Glyphs().at(glyphs[i])(pen);
  }
  return canvas.PackedDib();
}

Bytes GlyphIcon(const std::string& glyph, int size) {
  Canvas canvas(size, size, kIconBackground);
  Pen20 pen(canvas.dc(), 0, 0, size);
  Glyphs().at(glyph)(pen);
  const uint8_t* rows = canvas.Rows();
  const size_t stride = canvas.Stride();
  const size_t maskStride = ((static_cast<size_t>(size) + 31) / 32) * 4;
  BITMAPINFOHEADER header{sizeof(BITMAPINFOHEADER), size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0};
  Bytes image(reinterpret_cast<uint8_t*>(&header), reinterpret_cast<uint8_t*>(&header) + sizeof header);
  Bytes mask(maskStride * static_cast<size_t>(size), 0);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const uint8_t* p = rows + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 3;
      const bool clear = p[0] == 192 && p[1] == 192 && p[2] == 192;
      for (uint8_t byte : {clear ? uint8_t{0} : p[0], clear ? uint8_t{0} : p[1], clear ? uint8_t{0} : p[2],
                           clear ? uint8_t{0} : uint8_t{0xFF}})
        image.push_back(byte);
      if (clear)
        mask[static_cast<size_t>(y) * maskStride + static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
  }
  image.insert(image.end(), mask.begin(), mask.end());
  return image;
}

Bytes SplashPicture(int width, int height, const std::string& title, const std::string& line) {
  Canvas canvas(width, height, RGB(255, 255, 247));
  HDC dc = canvas.dc();
  // A deep blue band fading to the window colour, the program's pictogram on it, the texts beside.
  TRIVERTEX band[2] = {{0, 0, 0x1400, 0x4000, 0x9000, 0}, {width, height * 3 / 5, 0x5000, 0x9800, 0xD800, 0}};
  GRADIENT_RECT rect{0, 1};
  GradientFill(dc, band, 2, &rect, 1, GRADIENT_FILL_RECT_V);
  const int icon = height * 2 / 5;
  Pen20 picture(dc, height / 10, height / 10, icon);
  Glyphs().at("program")(picture);
  SetBkMode(dc, TRANSPARENT);
  auto text = [&](const std::string& what, int size, int weight, COLORREF colour, int x, int y) {
    HFONT font = CreateFont(-size, 0, 0, 0, weight, 0, 0, 0, DEFAULT_CHARSET, 0, 0, ANTIALIASED_QUALITY, 0,
                            "DejaVu Sans");
    HGDIOBJ old = SelectObject(dc, font);
    SetTextColor(dc, colour);
    TextOut(dc, x, y, what.c_str(), static_cast<int>(what.size()));
    SelectObject(dc, old);
    DeleteObject(font);
  };
  const int textLeft = height / 10 * 2 + icon;
  text(title, height / 7, FW_BOLD, RGB(255, 255, 255), textLeft, height / 10 + icon / 6);
  text(line, height / 20, 400, RGB(225, 235, 250), textLeft, height / 10 + icon / 6 + height / 5);
  // A server joined to a computer, below the band.
  const int scene = height * 2 / 5;
  Pen20 below(dc, (width - scene) / 2, height * 3 / 5 - scene / 8, scene);
  Glyphs().at("device-mapping")(below);
  HBRUSH frame = CreateSolidBrush(RGB(20, 64, 144));
  RECT all{0, 0, width, height};
  FrameRect(dc, &all, frame);
  DeleteObject(frame);
  return canvas.PackedDib();
}

Bytes SpinnerClip(int width, int height, int frames, int ms) {
  std::vector<std::vector<uint32_t>> pictures;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  const int cx = width / 2, cy = height / 2, radius = std::min(width, height) / 2 - 6, dot = 4;
  for (int f = 0; f < frames; ++f) {
    RECT all{0, 0, width, height};
    HBRUSH back = CreateSolidBrush(RGB(192, 192, 192));
    FillRect(dc, &all, back);
    DeleteObject(back);
    for (int d = 0; d < 8; ++d) {
      const double angle = d * kPi / 4;
      const int x = cx + static_cast<int>(radius * std::cos(angle)), y = cy + static_cast<int>(radius * std::sin(angle));
      const bool lit = d == f % 8;
      HBRUSH fill = CreateSolidBrush(lit ? RGB(0, 64, 160) : RGB(128, 144, 176));
      HGDIOBJ oldBrush = SelectObject(dc, fill);
      HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
      Ellipse(dc, x - dot, y - dot, x + dot + 1, y + dot + 1);
      SelectObject(dc, oldPen);
      SelectObject(dc, oldBrush);
      DeleteObject(fill);
    }
    GdiFlush();
    const auto* pixels = static_cast<const uint32_t*>(bits);
    std::vector<uint32_t> picture(pixels, pixels + static_cast<size_t>(width) * static_cast<size_t>(height));
    for (auto& p : picture) p &= 0xFFFFFF;
    pictures.push_back(std::move(picture));
  }
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(bitmap);
  return tavrin::avi::Build(width, height, static_cast<uint32_t>(ms) * 1000, pictures, 8);
}

}  // namespace rescomp
