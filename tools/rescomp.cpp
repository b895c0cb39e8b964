// tavrin-rescomp: turns a resource manifest into a C++ table of resources in their Windows byte
// layouts, registered with tavrin::res::Register by the function the manifest names. Pictures are drawn
// here, by code, with our own GDI.
//   tavrin-rescomp MANIFEST OUTPUT          writes OUTPUT
//   tavrin-rescomp --check MANIFEST OUTPUT  exit 1 when OUTPUT is not what MANIFEST gives
// Manifest lines (# starts a comment; texts are quoted, with \n \t \" \\ escapes):
//   program NAME.exe                        the file whose version block the table holds
//   function NAME                           the registering function
//   string ID "text"
//   version A.B.C.D A.B.C.D                 file and product versions
//   version-string "Key" "value"            StringFileInfo 040904B0
//   accelerators ID ... end                 lines: accel KEY COMMAND [VIRTKEY CONTROL SHIFT ALT NOINVERT]
//                                           KEY: a number, "c", or VK_RETURN VK_ESCAPE VK_TAB VK_BACK
//                                           VK_DELETE VK_INSERT VK_F1..VK_F12
//   menu ID ... end                         lines: popup "text" ... end | item "text" ID [GRAYED CHECKED]
//                                           | separator
//   toolbar ID WIDTH HEIGHT ITEM...         0 items are separators
//   dialog ID X Y CX CY "title" [style STYLE] [exstyle STYLE] [font SIZE "face"] ... end
//                                           lines: control "text" ID CLASS X Y CX CY [STYLE [EXSTYLE]];
//                                           STYLE: numbers or WS_/DS_/BS_/ES_/SS_/CBS_/LBS_/SBS_ names
//                                           joined by |. CLASS is
//                                           Button, Edit, Static, ListBox, ScrollBar, ComboBox or a name.
//                                           Dialog style default WS_POPUP|WS_CAPTION|WS_SYSMENU|DS_MODALFRAME,
//                                           font 8 "MS Sans Serif"; controls are WS_CHILD|WS_VISIBLE|STYLE
//   bitmap ID PICTURE WIDTH HEIGHT          PICTURE: icon-strip (WIDTH/HEIGHT square pictograms on
//                                           RGB(192,192,192))
//   avi ID PICTURE WIDTH HEIGHT FRAMES MS    an uncompressed clip of FRAMES pictures, MS milliseconds each;
//                                           PICTURE: spinner (a ring of dots going round on RGB(192,192,192))
//   icon ID PICTURE SIZE...                 an icon with an image of each size; PICTURE: pictogram
//                                           (the first of the strip, its grey background transparent)
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "win32/avi.h"
#include "win32/controls.h"
#include "win32/dialog.h"
#include "win32/resources.h"
#include "win32/windows.h"

namespace {

using Bytes = std::vector<uint8_t>;

[[noreturn]] void Fail(int line, const std::string& what) {
  fprintf(stderr, "tavrin-rescomp: line %d: %s\n", line, what.c_str());
  exit(2);
}

// Splits a line into words and quoted texts.
std::vector<std::string> Tokens(const std::string& line, int number) {
  std::vector<std::string> out;
  for (size_t i = 0; i < line.size();) {
    if (isspace(static_cast<unsigned char>(line[i]))) {
      ++i;
    } else if (line[i] == '#') {
      break;
    } else if (line[i] == '"') {
      std::string text;
      ++i;
      for (;; ++i) {
        if (i >= line.size()) Fail(number, "unterminated text");
        if (line[i] == '"') break;
        if (line[i] == '\\' && i + 1 < line.size()) {
          char c = line[++i];
          text += c == 'n' ? '\n' : c == 't' ? '\t' : c;
        } else {
          text += line[i];
        }
      }
      ++i;
      out.push_back("\"" + text);  // a leading quote marks a text
    } else {
      size_t end = i;
      while (end < line.size() && !isspace(static_cast<unsigned char>(line[end]))) ++end;
      out.push_back(line.substr(i, end - i));
      i = end;
    }
  }
  return out;
}

std::string Text(const std::string& token, int line) {
  if (token.empty() || token[0] != '"') Fail(line, "a quoted text expected");
  return token.substr(1);
}

long Number(const std::string& token, int line) {
  char* end = nullptr;
  long value = strtol(token.c_str(), &end, 0);
  if (token.empty() || *end) Fail(line, "a number expected: " + token);
  return value;
}

// Window and control styles: numbers or the platform's names, joined by '|'.
uint32_t Style(const std::string& token, int line) {
  static const std::map<std::string, uint32_t> names = {
      {"WS_POPUP", WS_POPUP}, {"WS_CHILD", WS_CHILD}, {"WS_VISIBLE", WS_VISIBLE}, {"WS_DISABLED", WS_DISABLED},
      {"WS_CLIPSIBLINGS", WS_CLIPSIBLINGS}, {"WS_CLIPCHILDREN", WS_CLIPCHILDREN}, {"WS_CAPTION", WS_CAPTION},
      {"WS_BORDER", WS_BORDER}, {"WS_DLGFRAME", WS_DLGFRAME}, {"WS_VSCROLL", WS_VSCROLL}, {"WS_HSCROLL", WS_HSCROLL},
      {"WS_SYSMENU", WS_SYSMENU}, {"WS_THICKFRAME", WS_THICKFRAME}, {"WS_GROUP", WS_GROUP}, {"WS_TABSTOP", WS_TABSTOP},
      {"WS_EX_CLIENTEDGE", WS_EX_CLIENTEDGE}, {"WS_EX_STATICEDGE", WS_EX_STATICEDGE},
      {"WS_EX_TRANSPARENT", WS_EX_TRANSPARENT}, {"WS_EX_TOOLWINDOW", WS_EX_TOOLWINDOW},
      {"WS_EX_CONTROLPARENT", WS_EX_CONTROLPARENT}, {"WS_EX_DLGMODALFRAME", WS_EX_DLGMODALFRAME},
      {"DS_MODALFRAME", DS_MODALFRAME}, {"DS_SETFOREGROUND", DS_SETFOREGROUND}, {"DS_CONTROL", DS_CONTROL},
      {"DS_CENTER", DS_CENTER}, {"DS_3DLOOK", DS_3DLOOK}, {"DS_ABSALIGN", DS_ABSALIGN},
      {"BS_PUSHBUTTON", BS_PUSHBUTTON}, {"BS_DEFPUSHBUTTON", BS_DEFPUSHBUTTON}, {"BS_CHECKBOX", BS_CHECKBOX},
      {"BS_AUTOCHECKBOX", BS_AUTOCHECKBOX}, {"BS_RADIOBUTTON", BS_RADIOBUTTON}, {"BS_3STATE", BS_3STATE},
      {"BS_AUTO3STATE", BS_AUTO3STATE}, {"BS_GROUPBOX", BS_GROUPBOX}, {"BS_AUTORADIOBUTTON", BS_AUTORADIOBUTTON},
      {"BS_OWNERDRAW", BS_OWNERDRAW}, {"BS_LEFT", BS_LEFT}, {"BS_RIGHT", BS_RIGHT}, {"BS_CENTER", BS_CENTER},
      {"BS_PUSHLIKE", BS_PUSHLIKE}, {"BS_FLAT", BS_FLAT}, {"SS_LEFT", SS_LEFT}, {"SS_CENTER", SS_CENTER},
      {"SS_RIGHT", SS_RIGHT}, {"ES_LEFT", ES_LEFT}, {"ES_CENTER", ES_CENTER}, {"ES_RIGHT", ES_RIGHT},
      {"ES_UPPERCASE", ES_UPPERCASE}, {"ES_LOWERCASE", ES_LOWERCASE}, {"ES_PASSWORD", ES_PASSWORD},
      {"ES_AUTOHSCROLL", ES_AUTOHSCROLL}, {"ES_NOHIDESEL", ES_NOHIDESEL}, {"ES_READONLY", ES_READONLY},
      {"ES_NUMBER", ES_NUMBER}, {"CBS_DROPDOWNLIST", CBS_DROPDOWNLIST}, {"CBS_SORT", CBS_SORT},
      {"CBS_AUTOHSCROLL", CBS_AUTOHSCROLL}, {"LBS_NOTIFY", LBS_NOTIFY}, {"LBS_SORT", LBS_SORT},
      {"LBS_NOINTEGRALHEIGHT", LBS_NOINTEGRALHEIGHT}, {"SBS_HORZ", SBS_HORZ}, {"SBS_VERT", SBS_VERT},
  };
  uint32_t value = 0;
  size_t start = 0;
  while (start <= token.size()) {
    size_t bar = token.find('|', start);
    std::string part = token.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
    if (auto named = names.find(part); named != names.end()) value |= named->second;
    else value |= static_cast<uint32_t>(Number(part, line));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return value;
}

void Word(Bytes& out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}
void Dword(Bytes& out, uint32_t value) {
  Word(out, value & 0xFFFF);
  Word(out, value >> 16);
}

// UTF-8 to UTF-16 code units (the texts of the manifest are UTF-8).
std::u16string Utf16(const std::string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    uint32_t code = c;
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (extra) code = c & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < text.size(); ++k) code = (code << 6) | (text[i + k] & 0x3F);
    i += 1 + extra;
    out.push_back(code > 0xFFFF ? u'?' : static_cast<char16_t>(code));
  }
  return out;
}

void Utf16z(Bytes& out, const std::string& text) {
  for (char16_t c : Utf16(text)) Word(out, c);
  Word(out, 0);
}

void Pad4(Bytes& out) {
  while (out.size() % 4) out.push_back(0);
}

// ---- version block ----

Bytes VersionNode(const std::string& key, bool text, const Bytes& value, uint32_t valueLength,
                  const std::vector<Bytes>& children) {
  Bytes node;
  Word(node, 0);
  Word(node, valueLength);
  Word(node, text ? 1 : 0);
  Utf16z(node, key);
  Pad4(node);
  node.insert(node.end(), value.begin(), value.end());
  for (auto& child : children) {
    Pad4(node);
    node.insert(node.end(), child.begin(), child.end());
  }
  node[0] = static_cast<uint8_t>(node.size());
  node[1] = static_cast<uint8_t>(node.size() >> 8);
  return node;
}

void Version(const std::string& spec, uint32_t& ms, uint32_t& ls, int line) {
  unsigned a, b, c, d;
  if (sscanf(spec.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d) != 4) Fail(line, "a version a.b.c.d expected");
  ms = (a << 16) | (b & 0xFFFF);
  ls = (c << 16) | (d & 0xFFFF);
}

// ---- pictures ----

// Square pictograms side by side: each its own colour and shape, outlined, on the grey mask colour.
Bytes IconStrip(int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bitmap);
  RECT all{0, 0, width, height};
  HBRUSH mask = CreateSolidBrush(RGB(192, 192, 192));
  FillRect(dc, &all, mask);
  DeleteObject(mask);
  const COLORREF colours[] = {RGB(0, 96, 192), RGB(192, 32, 32), RGB(0, 144, 64), RGB(224, 160, 0),
                              RGB(128, 64, 160), RGB(0, 144, 160), RGB(96, 96, 96), RGB(208, 96, 32)};
  const int size = height;
  for (int i = 0; i * size < width; ++i) {
    int x = i * size, inset = size / 6;
    HBRUSH fill = CreateSolidBrush(colours[i % 8]);
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(0, 0, 0));
    HGDIOBJ oldBrush = SelectObject(dc, fill), oldPen = SelectObject(dc, pen);
    switch ((i / 8 + i) % 4) {
      case 0: Ellipse(dc, x + inset, inset, x + size - inset, size - inset); break;
      case 1: Rectangle(dc, x + inset, inset, x + size - inset, size - inset); break;
      case 2: {
        POINT triangle[] = {{x + size / 2, inset}, {x + size - inset, size - inset}, {x + inset, size - inset}};
        Polygon(dc, triangle, 3);
        break;
      }
      default: RoundRect(dc, x + inset, inset + size / 8, x + size - inset, size - inset - size / 8, 6, 6); break;
    }
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    DeleteObject(fill);
    DeleteObject(pen);
  }
  GdiFlush();
  // The header, then the rows: sized once, both copied in.
  const size_t stride = ((static_cast<size_t>(width) * 24 + 31) / 32) * 4;
  const size_t rows = stride * static_cast<size_t>(height);
  Bytes packed(sizeof(BITMAPINFOHEADER) + rows);
  std::memcpy(packed.data(), &info.bmiHeader, sizeof(BITMAPINFOHEADER));
  std::memcpy(packed.data() + sizeof(BITMAPINFOHEADER), bits, rows);
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(bitmap);
  return packed;
}

// An RT_ICON image (32-bit colour rows, then the AND mask, both bottom-up) from a pictogram drawn on grey.
Bytes IconImage(int size) {
  Bytes strip = IconStrip(size, size);
  const uint8_t* rows = strip.data() + sizeof(BITMAPINFOHEADER);
  size_t stride = ((static_cast<size_t>(size) * 24 + 31) / 32) * 4;
  size_t maskStride = ((static_cast<size_t>(size) + 31) / 32) * 4;
  BITMAPINFOHEADER header{sizeof(BITMAPINFOHEADER), size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0};
  Bytes image(reinterpret_cast<uint8_t*>(&header), reinterpret_cast<uint8_t*>(&header) + sizeof header);
  Bytes mask(maskStride * static_cast<size_t>(size), 0);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const uint8_t* p = rows + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 3;
      bool clear = p[0] == 192 && p[1] == 192 && p[2] == 192;
      for (uint8_t byte : {clear ? uint8_t{0} : p[0], clear ? uint8_t{0} : p[1], clear ? uint8_t{0} : p[2],
                           clear ? uint8_t{0} : uint8_t{0xFF}})
        image.push_back(byte);
      if (clear) mask[static_cast<size_t>(y) * maskStride + static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
    }
  }
  image.insert(image.end(), mask.begin(), mask.end());
  return image;
}

// ---- menus ----

struct MenuItem {
  std::string text;
  uint32_t id = 0;
  uint32_t flags = 0;
  bool popup = false;
  std::vector<MenuItem> children;
};

void WriteMenu(Bytes& out, const std::vector<MenuItem>& items) {
  for (size_t i = 0; i < items.size(); ++i) {
    const MenuItem& item = items[i];
    uint32_t flags = item.flags | (item.popup ? 0x10 : 0) | (i + 1 == items.size() ? 0x80 : 0);
    Word(out, flags);
    if (!item.popup) Word(out, item.id);
    Utf16z(out, item.text);
    if (item.popup) WriteMenu(out, item.children);
  }
}

int VirtualKey(const std::string& name) {
  static const std::map<std::string, int> names = {
      {"VK_RETURN", VK_RETURN}, {"VK_ESCAPE", VK_ESCAPE}, {"VK_TAB", VK_TAB}, {"VK_BACK", VK_BACK},
      {"VK_DELETE", VK_DELETE}, {"VK_INSERT", VK_INSERT}, {"VK_SPACE", VK_SPACE}};
  if (auto it = names.find(name); it != names.end()) return it->second;
  if (name.rfind("VK_F", 0) == 0) return VK_F1 + atoi(name.c_str() + 4) - 1;
  return 0;
}

// A ring of eight dots, the lit one moving on by one a frame, drawn with our GDI.
Bytes Spinner(int width, int height, int frames, int ms) {
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
      const double angle = d * 3.14159265358979 / 4;
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

struct Resource {
  int type;
  int id;
  Bytes data;
};

std::string Generate(const std::string& manifestPath) {
  std::ifstream in(manifestPath);
  if (!in) Fail(0, "cannot read " + manifestPath);
  std::vector<std::vector<std::string>> lines;
  std::vector<int> numbers;
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    auto tokens = Tokens(line, number);
    if (tokens.empty()) continue;
    lines.push_back(tokens);
    numbers.push_back(number);
  }
  std::string program, function = "RegisterResources";
  std::map<int, std::map<int, std::string>> strings;  // block -> index -> text
  std::vector<Resource> resources;
  uint32_t fileMs = 0, fileLs = 0, productMs = 0, productLs = 0;
  bool version = false;
  std::vector<std::pair<std::string, std::string>> versionStrings;
  int nextIconId = 1;

  for (size_t i = 0; i < lines.size(); ++i) {
    auto& t = lines[i];
    int line = numbers[i];
    const std::string& verb = t[0];
    if (verb == "program" && t.size() == 2) {
      program = t[1];
    } else if (verb == "function" && t.size() == 2) {
      function = t[1];
    } else if (verb == "string" && t.size() == 3) {
      long id = Number(t[1], line);
      if (id < 0 || id > 0xFFFF) Fail(line, "string id out of range");
      strings[static_cast<int>(id >> 4) + 1][static_cast<int>(id & 15)] = Text(t[2], line);
    } else if (verb == "version" && t.size() == 3) {
      Version(t[1], fileMs, fileLs, line);
      Version(t[2], productMs, productLs, line);
      version = true;
    } else if (verb == "version-string" && t.size() == 3) {
      versionStrings.emplace_back(Text(t[1], line), Text(t[2], line));
    } else if (verb == "toolbar" && t.size() >= 4) {
      Bytes data;
      Word(data, 1);
      Word(data, static_cast<uint32_t>(Number(t[2], line)));
      Word(data, static_cast<uint32_t>(Number(t[3], line)));
      Word(data, static_cast<uint32_t>(t.size() - 4));
      for (size_t k = 4; k < t.size(); ++k) Word(data, static_cast<uint32_t>(Number(t[k], line)));
      resources.push_back({kRtToolbar, static_cast<int>(Number(t[1], line)), data});
    } else if (verb == "avi" && t.size() == 7) {
      if (t[2] != "spinner") Fail(line, "unknown picture " + t[2]);
      const long w = Number(t[3], line), h = Number(t[4], line), frames = Number(t[5], line), ms = Number(t[6], line);
      if (w < 16 || h < 16 || w > 512 || h > 512 || frames < 1 || frames > 64 || ms < 1) Fail(line, "bad clip size");
      Bytes clip = Spinner(static_cast<int>(w), static_cast<int>(h), static_cast<int>(frames), static_cast<int>(ms));
      if (clip.empty()) Fail(line, "the clip has too many colours");
      resources.push_back({kRtNamedAvi, static_cast<int>(Number(t[1], line)), clip});
    } else if (verb == "bitmap" && t.size() == 5) {
      if (t[2] != "icon-strip") Fail(line, "unknown picture " + t[2]);
      long w = Number(t[3], line), h = Number(t[4], line);
      if (w <= 0 || h <= 0 || w > 4096 || h > 4096) Fail(line, "bad picture size");
      resources.push_back({kRtBitmap, static_cast<int>(Number(t[1], line)), IconStrip(static_cast<int>(w), static_cast<int>(h))});
    } else if (verb == "icon" && t.size() >= 4) {
      if (t[2] != "pictogram") Fail(line, "unknown picture " + t[2]);
      Bytes group;
      Word(group, 0);
      Word(group, 1);
      Word(group, static_cast<uint32_t>(t.size() - 3));
      for (size_t k = 3; k < t.size(); ++k) {
        long size = Number(t[k], line);
        if (size <= 0 || size > 255) Fail(line, "icon sizes are 1..255");
        Bytes image = IconImage(static_cast<int>(size));
        int imageId = nextIconId++;
        group.push_back(static_cast<uint8_t>(size));
        group.push_back(static_cast<uint8_t>(size));
        group.push_back(0);
        group.push_back(0);
        Word(group, 1);
        Word(group, 32);
        Dword(group, static_cast<uint32_t>(image.size()));
        Word(group, static_cast<uint32_t>(imageId));
        resources.push_back({kRtIcon, imageId, image});
      }
      resources.push_back({kRtGroupIcon, static_cast<int>(Number(t[1], line)), group});
    } else if (verb == "accelerators" && t.size() == 2) {
      Bytes data;
      size_t start = data.size();
      int id = static_cast<int>(Number(t[1], line));
      std::vector<std::vector<std::string>> entries;
      for (++i; i < lines.size() && lines[i][0] != "end"; ++i) entries.push_back(lines[i]);
      if (i >= lines.size()) Fail(line, "accelerators without end");
      for (size_t k = 0; k < entries.size(); ++k) {
        auto& e = entries[k];
        if (e.size() < 3 || e[0] != "accel") Fail(line, "accel KEY COMMAND [flags] expected");
        uint32_t flags = 0, key;
        for (size_t f = 3; f < e.size(); ++f) {
          if (e[f] == "VIRTKEY") flags |= FVIRTKEY;
          else if (e[f] == "CONTROL") flags |= FCONTROL;
          else if (e[f] == "SHIFT") flags |= FSHIFT;
          else if (e[f] == "ALT") flags |= FALT;
          else if (e[f] == "NOINVERT") flags |= FNOINVERT;
          else Fail(line, "unknown accelerator flag " + e[f]);
        }
        if (e[1][0] == '"') key = static_cast<unsigned char>(Text(e[1], line).c_str()[0]);
        else if (int vk = VirtualKey(e[1])) key = static_cast<uint32_t>(vk);
        else key = static_cast<uint32_t>(Number(e[1], line));
        Word(data, flags | (k + 1 == entries.size() ? 0x80 : 0));
        Word(data, key);
        Word(data, static_cast<uint32_t>(Number(e[2], line)));
        Word(data, 0);
      }
      (void)start;
      resources.push_back({kRtAccelerator, id, data});
    } else if (verb == "dialog" && t.size() >= 7) {
      uint32_t style = 0x80C80080;  // WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME
      int fontSize = 8;
      std::string face = "MS Sans Serif";
      uint32_t exStyle = 0;
      for (size_t k = 7; k < t.size(); ++k) {
        if (t[k] == "style" && k + 1 < t.size()) style = Style(t[++k], line);
        else if (t[k] == "exstyle" && k + 1 < t.size()) exStyle = Style(t[++k], line);
        else if (t[k] == "font" && k + 2 < t.size()) fontSize = static_cast<int>(Number(t[k + 1], line)), face = Text(t[k + 2], line), k += 2;
        else Fail(line, "dialog options are style, exstyle and font");
      }
      style |= 0x40;  // DS_SETFONT: the font follows the title
      std::vector<Bytes> items;
      for (++i; i < lines.size() && lines[i][0] != "end"; ++i) {
        auto& c = lines[i];
        int at = numbers[i];
        if (c[0] != "control" || c.size() < 8 || c.size() > 10)
          Fail(at, "control \"text\" ID CLASS X Y CX CY [STYLE [EXSTYLE]]");
        Bytes item;
        Dword(item, 0x50000000u | (c.size() >= 9 ? Style(c[8], at) : 0u));
        Dword(item, c.size() == 10 ? Style(c[9], at) : 0u);
        for (int k = 4; k < 8; ++k) Word(item, static_cast<uint32_t>(Number(c[static_cast<size_t>(k)], at)));
        Word(item, static_cast<uint32_t>(Number(c[2], at)));
        static const std::map<std::string, uint32_t> atoms = {{"Button", 0x80}, {"Edit", 0x81}, {"Static", 0x82},
                                                              {"ListBox", 0x83}, {"ScrollBar", 0x84}, {"ComboBox", 0x85}};
        if (auto atom = atoms.find(c[3]); atom != atoms.end()) {
          Word(item, 0xFFFF);
          Word(item, atom->second);
        } else {
          Utf16z(item, c[3]);
        }
        Utf16z(item, Text(c[1], at));
        Word(item, 0);  // no creation data
        items.push_back(item);
      }
      if (i >= lines.size()) Fail(line, "dialog without end");
      Bytes data;
      Dword(data, style);
      Dword(data, exStyle);
      Word(data, static_cast<uint32_t>(items.size()));
      for (int k = 2; k < 6; ++k) Word(data, static_cast<uint32_t>(Number(t[static_cast<size_t>(k)], line)));
      Word(data, 0);  // no menu
      Word(data, 0);  // the standard dialog class
      Utf16z(data, Text(t[6], line));
      Word(data, static_cast<uint32_t>(fontSize));
      Utf16z(data, face);
      for (auto& item : items) {
        Pad4(data);
        data.insert(data.end(), item.begin(), item.end());
      }
      resources.push_back({kRtDialog, static_cast<int>(Number(t[1], line)), data});
    } else if (verb == "menu" && t.size() == 2) {
      int id = static_cast<int>(Number(t[1], line));
      std::vector<std::vector<MenuItem>*> stack;
      std::vector<MenuItem> top;
      stack.push_back(&top);
      for (++i; i < lines.size(); ++i) {
        auto& m = lines[i];
        int at = numbers[i];
        if (m[0] == "end") {
          stack.pop_back();
          if (stack.empty()) break;
        } else if (m[0] == "popup" && m.size() == 2) {
          stack.back()->push_back(MenuItem{Text(m[1], at), 0, 0, true, {}});
          stack.push_back(&stack.back()->back().children);
        } else if (m[0] == "item" && m.size() >= 3) {
          MenuItem item{Text(m[1], at), static_cast<uint32_t>(Number(m[2], at)), 0, false, {}};
          for (size_t f = 3; f < m.size(); ++f) item.flags |= m[f] == "GRAYED" ? 0x1 : m[f] == "CHECKED" ? 0x8 : 0;
          stack.back()->push_back(item);
        } else if (m[0] == "separator") {
          stack.back()->push_back(MenuItem{});
        } else {
          Fail(at, "menu lines are popup, item, separator and end");
        }
      }
      if (!stack.empty()) Fail(line, "menu without end");
      Bytes data;
      Word(data, 0);  // MENUHEADER: version, header size
      Word(data, 0);
      WriteMenu(data, top);
      resources.push_back({kRtMenu, id, data});
    } else {
      Fail(line, "unknown line: " + verb);
    }
  }
  for (auto& [block, texts] : strings) {
    Bytes data;
    for (int k = 0; k < 16; ++k) {
      auto it = texts.find(k);
      std::u16string text = it == texts.end() ? std::u16string() : Utf16(it->second);
      Word(data, static_cast<uint32_t>(text.size()));
      for (char16_t c : text) Word(data, c);
    }
    resources.push_back({kRtString, block, data});
  }
  if (version) {
    Bytes fixed;
    for (uint32_t value : {0xFEEF04BDu, 0x00010000u, fileMs, fileLs, productMs, productLs, 0x3Fu, 0u, 0x40004u, 1u, 0u,
                           0u, 0u})
      Dword(fixed, value);
    std::vector<Bytes> texts;
    for (auto& [key, value] : versionStrings) {
      Bytes utf16;
      Utf16z(utf16, value);
      texts.push_back(VersionNode(key, true, utf16, static_cast<uint32_t>(Utf16(value).size() + 1), {}));
    }
    Bytes table = VersionNode("040904B0", true, {}, 0, texts);
    Bytes stringInfo = VersionNode("StringFileInfo", true, {}, 0, {table});
    Bytes translation;
    Dword(translation, 0x04B00409);
    Bytes var = VersionNode("Translation", false, translation, 4, {});
    Bytes varInfo = VersionNode("VarFileInfo", true, {}, 0, {var});
    resources.push_back({kRtVersion, 1, VersionNode("VS_VERSION_INFO", false, fixed, 52, {stringInfo, varInfo})});
  }

  std::ostringstream out;
  out << "// Generated by tools/rescomp.cpp from " << manifestPath.substr(manifestPath.find_last_of('/') + 1)
      << ": regenerate, do not edit.\n#include \"win32/resources.h\"\n\nnamespace {\n\n";
  for (size_t r = 0; r < resources.size(); ++r) {
    out << "const uint8_t kResource" << r << "[] = {";
    auto& data = resources[r].data;
    for (size_t b = 0; b < data.size(); ++b) {
      if (b % 24 == 0) out << "\n   ";
      char hex[8];
      snprintf(hex, sizeof hex, " 0x%02x,", data[b]);
      out << hex;
    }
    out << "\n};\n";
  }
  out << "\nconst tavrin::res::Entry kEntries[] = {\n";
  for (size_t r = 0; r < resources.size(); ++r)
    out << "    {" << resources[r].type << ", " << resources[r].id << ", nullptr, kResource" << r << ", sizeof kResource"
        << r << "},\n";
  out << "};\n\n}  // namespace\n\nvoid " << function << "() {\n  tavrin::res::Register(kEntries);\n";
  if (!program.empty()) out << "  tavrin::res::SetProgramFileName(\"" << program << "\");\n";
  out << "}\n";
  return out.str();
}

}  // namespace

int main(int argc, char** argv) {
  bool check = argc == 4 && !strcmp(argv[1], "--check");
  if (argc != 3 && !check) {
    fprintf(stderr, "usage: %s [--check] MANIFEST OUTPUT\n", argv[0]);
    return 2;
  }
  std::string manifest = argv[check ? 2 : 1], output = argv[check ? 3 : 2];
  std::string generated = Generate(manifest);
  if (check) {
    std::ifstream in(output, std::ios::binary);
    std::stringstream existing;
    existing << in.rdbuf();
    if (existing.str() == generated) return 0;
    fprintf(stderr, "tavrin-rescomp: %s is not what %s gives: regenerate it\n", output.c_str(), manifest.c_str());
    return 1;
  }
  std::ofstream out(output, std::ios::binary | std::ios::trunc);
  out << generated;
  return out ? 0 : 1;
}
