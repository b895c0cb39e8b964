// tavrin-rescomp: turns resource manifests into a C++ table of resources in their Windows byte layouts,
// registered with tavrin::res::Register by the function the manifests name, and a header of the
// resource ids they name. Pictures are drawn here, by code, with our own GDI (pictures.cpp).
//   tavrin-rescomp MANIFEST OUTPUT                  writes OUTPUT
//   tavrin-rescomp --check MANIFEST OUTPUT          exit 1 when OUTPUT is not what MANIFEST gives
//   tavrin-rescomp [--check] [--header H] --output OUTPUT MANIFEST...
//                                                   one table of several manifests (each resource and
//                                                   string id may be given once in all of them), and H
//                                                   the ids they name; files are rewritten only when
//                                                   their text changes
// Manifest lines (# starts a comment; texts are quoted, with \n \t \" \\ escapes; a line ending in \ goes
// on on the next):
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
//   bitmap ID icons SIZE [on R,G,B] GLYPH...  SIZE x SIZE pictograms side by side, 24-bit, on the colour
//                                           (default 192,192,192, the image lists' mask colour)
//   bitmap ID splash WIDTH HEIGHT "title" "line"   the start-up picture
//   avi ID spinner WIDTH HEIGHT FRAMES MS   an uncompressed clip of FRAMES pictures, MS milliseconds each
//                                           (a ring of dots going round on RGB(192,192,192))
//   icon ID GLYPH SIZE...                   an icon with an image of the pictogram at each size, its
//                                           grey background transparent
// Ids (ID, COMMAND, ITEM and control ids): a number, NAME=NUMBER, which also puts
// "constexpr UINT NAME = NUMBER;" into the header, or a NAME given a number anywhere in the manifests.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "pictures.h"
#include "win32/controls.h"
#include "win32/dialog.h"
#include "win32/resources.h"
#include "win32/windows.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string g_manifest;  // the manifest being read, for the messages

[[noreturn]] void Fail(int line, const std::string& what) {
  fprintf(stderr, "tavrin-rescomp: %s:%d: %s\n", g_manifest.c_str(), line, what.c_str());
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

// ---- ids ----

bool IsName(const std::string& token) {
  return !token.empty() && (isalpha(static_cast<unsigned char>(token[0])) || token[0] == '_') &&
         std::all_of(token.begin(), token.end(), [](char c) { return isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

// The ids the manifests name, in the order they are first given.
struct Names {
  std::map<std::string, long> values;
  std::vector<std::string> order;

  // Every NAME=NUMBER token of a manifest's lines.
  void Collect(const std::vector<std::vector<std::string>>& lines, const std::vector<int>& numbers) {
    for (size_t i = 0; i < lines.size(); ++i) {
      for (const std::string& token : lines[i]) {
        const size_t eq = token.find('=');
        if (token[0] == '"' || eq == std::string::npos || !IsName(token.substr(0, eq))) continue;
        const std::string name = token.substr(0, eq);
        const long value = Number(token.substr(eq + 1), numbers[i]);
        auto [it, added] = values.emplace(name, value);
        if (added) order.push_back(name);
        else if (it->second != value) Fail(numbers[i], name + " is given two numbers");
      }
    }
  }

  // A resource, string, command or control id: a number, NAME=NUMBER or a NAME given elsewhere.
  long Id(const std::string& token, int line) const {
    const size_t eq = token.find('=');
    if (eq != std::string::npos) return Number(token.substr(eq + 1), line);
    if (IsName(token)) {
      auto it = values.find(token);
      if (it == values.end()) Fail(line, "no number is given for " + token);
      return it->second;
    }
    return Number(token, line);
  }
};

struct Resource {
  int type;
  int id;
  Bytes data;
};

// A manifest's lines, split into tokens, with their line numbers.
struct Manifest {
  std::string path;
  std::vector<std::vector<std::string>> lines;
  std::vector<int> numbers;
};

Manifest Read(const std::string& path) {
  g_manifest = path;
  std::ifstream in(path);
  if (!in) Fail(0, "cannot read " + path);
  Manifest manifest{path, {}, {}};
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    const int first = ++number;
    // A line ending in a backslash goes on on the next one.
    for (std::string next; !line.empty() && line.back() == '\\' && std::getline(in, next); ++number)
      line = line.substr(0, line.size() - 1) + " " + next;
    auto tokens = Tokens(line, first);
    if (tokens.empty()) continue;
    manifest.lines.push_back(tokens);
    manifest.numbers.push_back(first);
  }
  return manifest;
}

COLORREF Colour(const std::string& token, int line) {
  int r, g, b;
  char end;
  if (sscanf(token.c_str(), "%d,%d,%d%c", &r, &g, &b, &end) != 3 || r < 0 || g < 0 || b < 0 || r > 255 || g > 255 ||
      b > 255)
    Fail(line, "a colour R,G,B expected: " + token);
  return RGB(r, g, b);
}

void CheckGlyph(const std::string& name, int line) {
  if (!rescomp::IsGlyph(name)) Fail(line, "unknown pictogram " + name + " (known: " + rescomp::GlyphNames() + ")");
}

// Everything the manifests give, gathered before the table is written.
class Compiler {
 public:
  explicit Compiler(const Names& names) : names_(names) {}

  void Add(const Manifest& manifest);
  std::string Table(const std::vector<std::string>& manifestPaths);

 private:
  long Id(const std::string& token, int line) const { return names_.Id(token, line); }
  void AddResource(int type, long id, Bytes data, int line);
  void AddLine(const Manifest& manifest, size_t& i);

  const Names& names_;
  std::string program_, function_;
  std::map<int, std::map<int, std::string>> strings_;  // block -> index -> text
  std::vector<Resource> resources_;
  std::set<std::pair<int, int>> given_;  // type, id
  uint32_t fileMs_ = 0, fileLs_ = 0, productMs_ = 0, productLs_ = 0;
  bool version_ = false;
  std::vector<std::pair<std::string, std::string>> versionStrings_;
  int nextIconId_ = 1;
};

void Compiler::AddResource(int type, long id, Bytes data, int line) {
  if (id < 0 || id > 0xFFFF) Fail(line, "resource id out of range");
  if (!given_.emplace(type, static_cast<int>(id)).second)
    Fail(line, "resource " + std::to_string(id) + " of this type is given twice");
  resources_.push_back({type, static_cast<int>(id), std::move(data)});
}

void Compiler::Add(const Manifest& manifest) {
  g_manifest = manifest.path;
  for (size_t i = 0; i < manifest.lines.size(); ++i) AddLine(manifest, i);
}

void Compiler::AddLine(const Manifest& manifest, size_t& i) {
  const auto& lines = manifest.lines;
  const auto& numbers = manifest.numbers;
  auto& t = lines[i];
  const int line = numbers[i];
  const std::string& verb = t[0];
  if (verb == "program" && t.size() == 2) {
    if (!program_.empty() && program_ != t[1]) Fail(line, "a second program name");
    program_ = t[1];
  } else if (verb == "function" && t.size() == 2) {
    if (!function_.empty() && function_ != t[1]) Fail(line, "a second registering function");
    function_ = t[1];
  } else if (verb == "string" && t.size() == 3) {
    long id = Id(t[1], line);
    if (id < 0 || id > 0xFFFF) Fail(line, "string id out of range");
    auto& block = strings_[static_cast<int>(id >> 4) + 1];
    if (!block.emplace(static_cast<int>(id & 15), Text(t[2], line)).second)
      Fail(line, "string " + std::to_string(id) + " is given twice");
  } else if (verb == "version" && t.size() == 3) {
    Version(t[1], fileMs_, fileLs_, line);
    Version(t[2], productMs_, productLs_, line);
    version_ = true;
  } else if (verb == "version-string" && t.size() == 3) {
    versionStrings_.emplace_back(Text(t[1], line), Text(t[2], line));
  } else if (verb == "toolbar" && t.size() >= 4) {
    Bytes data;
    Word(data, 1);
    Word(data, static_cast<uint32_t>(Number(t[2], line)));
    Word(data, static_cast<uint32_t>(Number(t[3], line)));
    Word(data, static_cast<uint32_t>(t.size() - 4));
    for (size_t k = 4; k < t.size(); ++k) Word(data, static_cast<uint32_t>(Id(t[k], line)));
    AddResource(kRtToolbar, Id(t[1], line), data, line);
  } else if (verb == "avi" && t.size() == 7) {
    if (t[2] != "spinner") Fail(line, "unknown clip " + t[2]);
    const long w = Number(t[3], line), h = Number(t[4], line), frames = Number(t[5], line), ms = Number(t[6], line);
    if (w < 16 || h < 16 || w > 512 || h > 512 || frames < 1 || frames > 64 || ms < 1) Fail(line, "bad clip size");
    Bytes clip = rescomp::SpinnerClip(static_cast<int>(w), static_cast<int>(h), static_cast<int>(frames),
                                      static_cast<int>(ms));
    if (clip.empty()) Fail(line, "the clip has too many colours");
    AddResource(kRtNamedAvi, Id(t[1], line), clip, line);
  } else if (verb == "bitmap" && t.size() >= 4 && t[2] == "icons") {
    const long size = Number(t[3], line);
    if (size < 4 || size > 256) Fail(line, "pictograms are 4..256 pixels");
    size_t k = 4;
    COLORREF background = RGB(192, 192, 192);
    if (k + 1 < t.size() && t[k] == "on") background = Colour(t[k + 1], line), k += 2;
    std::vector<std::string> glyphs(t.begin() + static_cast<long>(k), t.end());
    if (glyphs.empty()) Fail(line, "no pictograms");
    for (auto& glyph : glyphs) CheckGlyph(glyph, line);
    AddResource(kRtBitmap, Id(t[1], line), rescomp::GlyphStrip(glyphs, static_cast<int>(size), background), line);
  } else if (verb == "bitmap" && t.size() == 7 && t[2] == "splash") {
    const long w = Number(t[3], line), h = Number(t[4], line);
    if (w < 64 || h < 64 || w > 2048 || h > 2048) Fail(line, "bad picture size");
    AddResource(kRtBitmap, Id(t[1], line),
                rescomp::SplashPicture(static_cast<int>(w), static_cast<int>(h), Text(t[5], line), Text(t[6], line)),
                line);
  } else if (verb == "icon" && t.size() >= 4) {
    CheckGlyph(t[2], line);
    Bytes group;
    Word(group, 0);
    Word(group, 1);
    Word(group, static_cast<uint32_t>(t.size() - 3));
    for (size_t k = 3; k < t.size(); ++k) {
      long size = Number(t[k], line);
      if (size <= 0 || size > 255) Fail(line, "icon sizes are 1..255");
      Bytes image = rescomp::GlyphIcon(t[2], static_cast<int>(size));
      int imageId = nextIconId_++;
      group.push_back(static_cast<uint8_t>(size));
      group.push_back(static_cast<uint8_t>(size));
      group.push_back(0);
      group.push_back(0);
      Word(group, 1);
      Word(group, 32);
      Dword(group, static_cast<uint32_t>(image.size()));
      Word(group, static_cast<uint32_t>(imageId));
      AddResource(kRtIcon, imageId, image, line);
    }
    AddResource(kRtGroupIcon, Id(t[1], line), group, line);
  } else if (verb == "accelerators" && t.size() == 2) {
    Bytes data;
    const long id = Id(t[1], line);
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
      Word(data, static_cast<uint32_t>(Id(e[2], line)));
      Word(data, 0);
    }
    AddResource(kRtAccelerator, id, data, line);
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
      Word(item, static_cast<uint32_t>(Id(c[2], at)));
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
    AddResource(kRtDialog, Id(t[1], line), data, line);
  } else if (verb == "menu" && t.size() == 2) {
    const long id = Id(t[1], line);
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
        MenuItem item{Text(m[1], at), static_cast<uint32_t>(Id(m[2], at)), 0, false, {}};
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
    AddResource(kRtMenu, id, data, line);
  } else {
    Fail(line, "unknown line: " + verb);
  }
}

std::string Compiler::Table(const std::vector<std::string>& manifestPaths) {
  for (auto& [block, texts] : strings_) {
    Bytes data;
    for (int k = 0; k < 16; ++k) {
      auto it = texts.find(k);
      std::u16string text = it == texts.end() ? std::u16string() : Utf16(it->second);
      Word(data, static_cast<uint32_t>(text.size()));
      for (char16_t c : text) Word(data, c);
    }
    resources_.push_back({kRtString, block, data});
  }
  if (version_) {
    Bytes fixed;
    for (uint32_t value : {0xFEEF04BDu, 0x00010000u, fileMs_, fileLs_, productMs_, productLs_, 0x3Fu, 0u, 0x40004u, 1u,
                           0u, 0u, 0u})
      Dword(fixed, value);
    std::vector<Bytes> texts;
    for (auto& [key, value] : versionStrings_) {
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
    resources_.push_back({kRtVersion, 1, VersionNode("VS_VERSION_INFO", false, fixed, 52, {stringInfo, varInfo})});
  }

  std::string sources;
  for (auto& path : manifestPaths) sources += (sources.empty() ? "" : ", ") + path.substr(path.find_last_of('/') + 1);
  std::ostringstream out;
  out << "// Generated by tools/rescomp.cpp from " << sources
      << ": regenerate, do not edit.\n#include \"win32/resources.h\"\n\nnamespace {\n\n";
  for (size_t r = 0; r < resources_.size(); ++r) {
    out << "const uint8_t kResource" << r << "[] = {";
    auto& data = resources_[r].data;
    for (size_t b = 0; b < data.size(); ++b) {
      if (b % 24 == 0) out << "\n   ";
      char hex[8];
      snprintf(hex, sizeof hex, " 0x%02x,", data[b]);
      out << hex;
    }
    out << "\n};\n";
  }
  out << "\nconst tavrin::res::Entry kEntries[] = {\n";
  for (size_t r = 0; r < resources_.size(); ++r)
    out << "    {" << resources_[r].type << ", " << resources_[r].id << ", nullptr, kResource" << r
        << ", sizeof kResource" << r << "},\n";
  out << "};\n\n}  // namespace\n\nvoid " << (function_.empty() ? "RegisterResources" : function_)
      << "() {\n  tavrin::res::Register(kEntries);\n";
  if (!program_.empty()) out << "  tavrin::res::SetProgramFileName(\"" << program_ << "\");\n";
  out << "}\n";
  return out.str();
}

std::string Header(const Names& names, const std::vector<std::string>& manifestPaths) {
  std::string sources;
  for (auto& path : manifestPaths) sources += (sources.empty() ? "" : ", ") + path.substr(path.find_last_of('/') + 1);
  std::ostringstream out;
  out << "// Generated by tools/rescomp.cpp from " << sources
      << ": the resource ids the manifests name.\n#pragma once\n#include \"win32/types.h\"\n\n";
  for (auto& name : names.order) out << "constexpr UINT " << name << " = " << names.values.at(name) << ";\n";
  return out.str();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Writes the file only when its text changes (what includes it is not rebuilt for nothing).
bool WriteFile(const std::string& path, const std::string& text) {
  if (ReadFile(path) == text) return true;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  bool check = false;
  std::string header, output;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--check") check = true;
    else if (arg == "--header" && i + 1 < argc) header = argv[++i];
    else if (arg == "--output" && i + 1 < argc) output = argv[++i];
    else positional.push_back(arg);
  }
  if (output.empty() && positional.size() == 2) {  // MANIFEST OUTPUT
    output = positional[1];
    positional.pop_back();
  }
  if (output.empty() || positional.empty()) {
    fprintf(stderr, "usage: %s [--check] MANIFEST OUTPUT\n       %s [--check] [--header H] --output OUTPUT MANIFEST...\n",
            argv[0], argv[0]);
    return 2;
  }
  std::vector<Manifest> manifests;
  Names names;
  for (auto& path : positional) {
    manifests.push_back(Read(path));
    names.Collect(manifests.back().lines, manifests.back().numbers);
  }
  Compiler compiler(names);
  for (auto& manifest : manifests) compiler.Add(manifest);
  const std::string table = compiler.Table(positional);
  const std::string ids = header.empty() ? std::string() : Header(names, positional);
  if (check) {
    bool same = ReadFile(output) == table && (header.empty() || ReadFile(header) == ids);
    if (!same) fprintf(stderr, "tavrin-rescomp: %s is not what its manifests give: regenerate it\n", output.c_str());
    return same ? 0 : 1;
  }
  return WriteFile(output, table) && (header.empty() || WriteFile(header, ids)) ? 0 : 1;
}
