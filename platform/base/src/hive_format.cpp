#include "base/hive_format.h"

#include <cinttypes>
#include <cstdio>

#include "base/files.h"

namespace tavrin::base::hive {

bool NoCaseLess::operator()(std::string_view a, std::string_view b) const { return files::LessNoCase(a, b); }

Key::~Key() {
  std::vector<std::unique_ptr<Key>> pending;
  for (auto& [name, child] : subkeys) pending.push_back(std::move(child));
  subkeys.clear();
  while (!pending.empty()) {
    std::unique_ptr<Key> key = std::move(pending.back());
    pending.pop_back();
    for (auto& [name, child] : key->subkeys) pending.push_back(std::move(child));
    key->subkeys.clear();
  }  // each key goes without children left
}

Key* Key::Child(std::string_view name) const {
  auto it = subkeys.find(name);
  return it == subkeys.end() ? nullptr : it->second.get();
}

Key& Key::EnsureChild(const std::string& name) {
  auto& child = subkeys[name];
  if (!child) child = std::make_unique<Key>();
  return *child;
}

const Value* Key::FindValue(std::string_view name) const {
  auto it = index_.find(name);
  return it == index_.end() ? nullptr : &values_[it->second];
}

void Key::SetValue(const std::string& name, uint32_t type, std::string data) {
  auto [it, added] = index_.try_emplace(name, values_.size());
  if (added) {
    values_.push_back(Value{name, type, std::move(data)});
  } else {
    values_[it->second].type = type;
    values_[it->second].data = std::move(data);
  }
}

bool Key::DeleteValue(std::string_view name) {
  auto it = index_.find(name);
  if (it == index_.end()) return false;
  size_t place = it->second;
  index_.erase(it);
  values_.erase(values_.begin() + static_cast<ptrdiff_t>(place));
  for (auto& entry : index_)
    if (entry.second > place) --entry.second;
  return true;
}

namespace {

constexpr std::string_view kMagic = "TAVRIN-REGISTRY ";

std::string Escape(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F && c != '%' && c != '=' && c != '\\') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string Unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    int high, low;
    if (text[i] == '%' && i + 2 < text.size() && (high = HexDigit(text[i + 1])) >= 0 &&
        (low = HexDigit(text[i + 2])) >= 0) {
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// A decimal number of at most `digits` digits, all of the text.
bool Decimal(std::string_view text, size_t digits, uint64_t* out) {
  if (text.empty() || text.size() > digits) return false;
  uint64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  *out = n;
  return true;
}

std::string_view NextLine(std::string_view& text) {
  size_t end = text.find('\n');
  std::string_view line = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  return line;
}

// "V <type> <name>=<data>" on key; false when the line is not one.
bool ParseValue(std::string_view line, Key* key) {
  if (!key || line.substr(0, 2) != "V ") return false;
  std::string_view rest = line.substr(2);
  size_t space = rest.find(' ');
  if (space == std::string_view::npos) return false;
  size_t equals = rest.find('=', space);
  uint64_t type;
  if (equals == std::string_view::npos || !Decimal(rest.substr(0, space), 10, &type) || type > 0xFFFFFFFF)
    return false;
  key->SetValue(Unescape(rest.substr(space + 1, equals - space - 1)), static_cast<uint32_t>(type),
                Unescape(rest.substr(equals + 1)));
  return true;
}

// Version 1: "K <name>\<name>..." names the whole path.
void ParseVersion1(std::string_view text, Parsed& out) {
  Key* current = nullptr;
  while (!text.empty()) {
    std::string_view line = NextLine(text);
    if (line.substr(0, 2) == "K ") {
      current = nullptr;
      std::string_view rest = line.substr(2);
      std::vector<std::string_view> names;
      while (!rest.empty() && names.size() <= kMaxDepth) {
        size_t sep = rest.find('\\');
        std::string_view name = rest.substr(0, sep);
        rest.remove_prefix(sep == std::string_view::npos ? rest.size() : sep + 1);
        if (!name.empty()) names.push_back(name);
      }
      if (names.empty() || names.size() > kMaxDepth) {
        ++out.badLines;
        continue;
      }
      current = &out.root;
      for (std::string_view name : names) current = &current->EnsureChild(Unescape(name));
    } else if (!ParseValue(line, current)) {
      ++out.badLines;
    }
  }
}

void ParseVersion2(std::string_view text, Parsed& out) {
  std::vector<Key*> path{&out.root};  // the last key read and the keys above it
  Key* current = nullptr;
  while (!text.empty()) {
    std::string_view line = NextLine(text);
    if (line.substr(0, 2) == "K ") {
      current = nullptr;
      std::string_view rest = line.substr(2);
      size_t space = rest.find(' ');
      uint64_t depth = 0;
      if (space == std::string_view::npos || !Decimal(rest.substr(0, space), 10, &depth) || depth == 0 ||
          depth > path.size() || depth > kMaxDepth || space + 1 == rest.size()) {
        ++out.badLines;  // and the keys below it, whose depth now skips a level
        path.resize(std::min<size_t>(path.size(), depth));
        if (path.empty()) path.push_back(&out.root);
        continue;
      }
      path.resize(depth);
      current = &path.back()->EnsureChild(Unescape(rest.substr(space + 1)));
      path.push_back(current);
    } else if (!ParseValue(line, current)) {
      ++out.badLines;
    }
  }
}

}  // namespace

uint64_t StampOf(std::string_view firstLine) {
  if (firstLine.substr(0, kMagic.size()) != kMagic) return 0;
  std::string_view rest = firstLine.substr(kMagic.size());
  size_t space = rest.find(' ');
  if (space == std::string_view::npos || rest.size() - space - 1 != 16) return 0;
  uint64_t stamp = 0;
  for (char c : rest.substr(space + 1)) {
    int digit = HexDigit(c);
    if (digit < 0) return 0;
    stamp = stamp << 4 | static_cast<uint64_t>(digit);
  }
  return stamp;
}

Parsed Parse(std::string_view text) {
  Parsed out;
  std::string_view body = text;
  std::string_view header = NextLine(body);
  if (header.substr(0, kMagic.size()) != kMagic) {
    // Without its header the form is unknown: nothing is taken rather than keys put in wrong places.
    out.state = Parsed::State::kDamaged;
    return out;
  }
  std::string_view rest = header.substr(kMagic.size());
  uint64_t version = 0;
  if (!Decimal(rest.substr(0, rest.find(' ')), 9, &version) || (version != 1 && version != 2)) {
    out.state = Parsed::State::kUnknownVersion;
    out.version = static_cast<int>(std::min<uint64_t>(version, 999999999));
    return out;
  }
  out.version = static_cast<int>(version);
  out.stamp = StampOf(header);
  if (version == 1)
    ParseVersion1(body, out);
  else
    ParseVersion2(body, out);
  if (out.badLines) out.state = Parsed::State::kDamaged;
  return out;
}

std::string Serialize(const Key& root, uint64_t stamp) {
  char header[64];
  std::snprintf(header, sizeof header, "TAVRIN-REGISTRY %d %016" PRIX64 "\n", kVersion, stamp);
  std::string out = header;
  struct Frame {
    const Key* key;
    std::map<std::string, std::unique_ptr<Key>, NoCaseLess>::const_iterator next;
  };
  std::vector<Frame> stack{{&root, root.subkeys.begin()}};
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.next == frame.key->subkeys.end()) {
      stack.pop_back();
      continue;
    }
    const auto& [name, child] = *frame.next++;
    const size_t depth = stack.size();
    out += "K " + std::to_string(depth) + " " + Escape(name) + "\n";
    for (const Value& v : child->values())
      out += "V " + std::to_string(v.type) + " " + Escape(v.name) + "=" + Escape(v.data) + "\n";
    if (depth < kMaxDepth) stack.push_back({child.get(), child->subkeys.begin()});
  }
  return out;
}

}  // namespace tavrin::base::hive
