// Our own pictures for the names the Mac windows ask for: pictograms drawn by code, a shape in a colour
// with a sign on it.
#include <mutex>

#include "appkit_internal.h"

using namespace appkit::detail;

namespace {

enum class Shape { kCircle, kSquare };

struct Pictogram {
  const char* name;
  Shape shape;
  uint32_t colour;
  const char* sign;
};

constexpr Pictogram kPictograms[] = {
    {"server.icns", Shape::kSquare, Argb(0x4A, 0x6F, 0xA5), "S"},
    {"server23.icns", Shape::kSquare, Argb(0x4A, 0x6F, 0xA5), "S"},
    {"ConnectImage.png", Shape::kCircle, Argb(0x2E, 0xA0, 0x43), "+"},
    {"DisconnectImage.png", Shape::kCircle, Argb(0xD0, 0x3A, 0x2F), "-"},
    {"BusyImage.png", Shape::kCircle, Argb(0xE0, 0x9A, 0x1E), "!"},
    {"Connect.ico", Shape::kCircle, Argb(0x2E, 0xA0, 0x43), "+"},
    {"Disconnect.ico", Shape::kCircle, Argb(0xD0, 0x3A, 0x2F), "-"},
    {"connectmenuImg.icns", Shape::kCircle, Argb(0x2E, 0xA0, 0x43), "+"},
    {"disConnectMenuImg.icns", Shape::kCircle, Argb(0xD0, 0x3A, 0x2F), "-"},
    {"play_blue_h.png", Shape::kCircle, Argb(0x2F, 0x6F, 0xD0), ">"},
    {"stop_blue.png", Shape::kSquare, Argb(0x2F, 0x6F, 0xD0), "#"},
    {"config.png", Shape::kSquare, Argb(0x70, 0x70, 0x78), "R"},
    {"network.png", Shape::kCircle, Argb(0x38, 0x8E, 0xB8), "N"},
    {"NSColorPanel", Shape::kCircle, Argb(0xC8, 0x50, 0xA0), "C"},  // the Show Colors toolbar item's
    {"run.ico", Shape::kCircle, Argb(0x2E, 0xA0, 0x43), "N"},
    {"stop.ico", Shape::kCircle, Argb(0xD0, 0x3A, 0x2F), "X"},
    {"searchB.icns", Shape::kCircle, Argb(0x5A, 0x5A, 0xC8), "?"},
    {"searchBS.icns", Shape::kCircle, Argb(0x5A, 0x5A, 0xC8), "?"},
    {"configR.icns", Shape::kSquare, Argb(0x8A, 0x5A, 0x2A), "C"},
    {"serverConfig.icns", Shape::kSquare, Argb(0x8A, 0x5A, 0x2A), "C"},
    {"upgradeBig.icns", Shape::kSquare, Argb(0x2E, 0x8A, 0x6A), "U"},
    {"upgrade.icns", Shape::kSquare, Argb(0x2E, 0x8A, 0x6A), "U"},
    {"unlock.icns", Shape::kSquare, Argb(0xC8, 0xA0, 0x20), "K"},
    {"restore.icns", Shape::kSquare, Argb(0x60, 0x80, 0x40), "R"},
    {"save.icns", Shape::kSquare, Argb(0x40, 0x60, 0xA0), "V"},
    {"clear1.icns", Shape::kSquare, Argb(0x90, 0x90, 0x90), "X"},
    {"Audio.gif", Shape::kCircle, Argb(0x90, 0x40, 0xA0), "A"},
    {"HID.gif", Shape::kCircle, Argb(0x40, 0x80, 0x90), "H"},
    {"massDevice.png", Shape::kSquare, Argb(0x50, 0x50, 0x60), "M"},
    {"printer_1.icns", Shape::kSquare, Argb(0x60, 0x60, 0x60), "P"},
    {"unknown.gif", Shape::kCircle, Argb(0x9A, 0x9A, 0x9A), "?"},
};

void Paint(const Pictogram& p, NSSize size) {
  const NSRect box = NSInsetRect(NSMakeRect(0, 0, size.width, size.height), 1, 1);
  DrawState* s = Current();
  s->fill = p.colour;
  if (p.shape == Shape::kCircle) NSBezierPath::bezierPathWithOvalInRect(box)->fill();
  else NSBezierPath::bezierPathWithRoundedRect_xRadius_yRadius(box, size.width / 6, size.height / 6)->fill();
  TextInRect(p.sign, *SystemFont(size.height * 0.6f, true), box, Argb(0xFF, 0xFF, 0xFF), Align::kCenter);
}

}  // namespace

namespace appkit::detail {

void RegisterBuiltInPictures() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (const Pictogram& p : kPictograms) NSImage::Register(p.name, NSMakeSize(32, 32), [&p](NSSize size) { Paint(p, size); });
  });
}

}  // namespace appkit::detail
