// The resource registry and the calls that read Windows resource layouts from it. Every layout is
// checked against the resource's size before it is read: a generated table is trusted no further than
// its bytes go.
#include "win32/resources.h"

#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace tavrin::res {
namespace {

struct Registry {
  std::mutex lock;
  std::deque<Entry> entries;  // stable addresses: an HRSRC points at its entry
  std::string programFile;
};

Registry& TheRegistry() {
  static auto* registry = new Registry;  // never destroyed
  return *registry;
}

bool IsNumber(LPCSTR name, WORD& id) {
  if (IS_INTRESOURCE(name)) {
    id = static_cast<WORD>(reinterpret_cast<uintptr_t>(name));
    return true;
  }
  if (name && name[0] == '#') {
    char* end = nullptr;
    unsigned long value = strtoul(name + 1, &end, 10);
    if (*end == '\0' && value <= 0xFFFF) {
      id = static_cast<WORD>(value);
      return true;
    }
  }
  return false;
}

const Entry* Lookup(LPCSTR name, LPCSTR type) {
  WORD typeId = 0, id = 0;
  if (!type) return nullptr;
  if (!IsNumber(type, typeId)) {
    if (strcasecmp(type, "AVI") != 0) return nullptr;  // of the named types only clips are kept
    typeId = kRtNamedAvi;
  }
  bool numbered = IsNumber(name, id);
  if (!numbered && !name) return nullptr;
  auto& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  for (auto& entry : registry.entries) {
    if (entry.type != typeId) continue;
    if (numbered ? (!entry.name && entry.id == id) : (entry.name && strcasecmp(entry.name, name) == 0)) return &entry;
  }
  return nullptr;
}

std::string Base(const std::string& path) {
  std::string name = path;
  auto slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name = name.substr(slash + 1);
  if (name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".exe") == 0) name.resize(name.size() - 4);
  return name;
}

}  // namespace

void Register(std::span<const Entry> entries) {
  auto& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  for (const Entry& entry : entries) {
    // A later entry of the same type and name takes the earlier one's place.
    bool replaced = false;
    for (auto& existing : registry.entries) {
      bool sameName = entry.name ? (existing.name && strcasecmp(existing.name, entry.name) == 0)
                                 : (!existing.name && existing.id == entry.id);
      if (existing.type == entry.type && sameName) {
        existing = entry;
        replaced = true;
        break;
      }
    }
    if (!replaced) registry.entries.push_back(entry);
  }
}

void SetProgramFileName(const char* name) {
  auto& registry = TheRegistry();
  std::lock_guard guard(registry.lock);
  registry.programFile = name ? name : "";
}

// The version resource when `file` names the running program.
const Entry* VersionOf(LPCSTR file) {
  if (!file) return nullptr;
  std::string own;
  {
    auto& registry = TheRegistry();
    std::lock_guard guard(registry.lock);
    own = registry.programFile;
  }
  if (own.empty()) {
    std::error_code ec;
    own = std::filesystem::read_symlink("/proc/self/exe", ec).filename().string();
  }
  if (strcasecmp(Base(file).c_str(), Base(own).c_str()) != 0) return nullptr;
  return Lookup(MAKEINTRESOURCE(1), RT_VERSION);
}

}  // namespace tavrin::res

using tavrin::res::Entry;

HRSRC FindResource(HMODULE, LPCSTR name, LPCSTR type) {
  const Entry* entry = tavrin::res::Lookup(name, type);
  if (!entry) SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return reinterpret_cast<HRSRC>(const_cast<Entry*>(entry));
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
  if (!resource) return nullptr;
  return const_cast<uint8_t*>(reinterpret_cast<const Entry*>(resource)->data);
}

LPVOID LockResource(HGLOBAL data) { return data; }

DWORD SizeofResource(HMODULE, HRSRC resource) {
  return resource ? static_cast<DWORD>(reinterpret_cast<const Entry*>(resource)->size) : 0;
}

BOOL FreeResource(HGLOBAL) { return FALSE; }  // nothing to free: FALSE is success here, as documented

int LoadString(HINSTANCE, UINT id, LPSTR buffer, int bufferSize) {
  if (!buffer || bufferSize <= 0) return 0;
  buffer[0] = '\0';
  const Entry* block = tavrin::res::Lookup(MAKEINTRESOURCE(static_cast<WORD>((id >> 4) + 1)), RT_STRING);
  if (!block) return 0;
  size_t at = 0;
  for (UINT index = 0; index < 16; ++index) {
    if (at + 2 > block->size) return 0;
    WORD length;
    memcpy(&length, block->data + at, 2);
    at += 2;
    if (at + 2u * length > block->size) return 0;
    if (index == (id & 15)) {
      int copied = 0;
      for (WORD i = 0; i < length && copied < bufferSize - 1; ++i) {
        uint16_t c;
        memcpy(&c, block->data + at + 2u * i, 2);
        buffer[copied++] = c < 256 ? static_cast<char>(c) : '?';
      }
      buffer[copied] = '\0';
      return copied;
    }
    at += 2u * length;
  }
  return 0;
}

HBITMAP LoadBitmap(HINSTANCE, LPCSTR name) {
  const Entry* entry = tavrin::res::Lookup(name, RT_BITMAP);
  if (!entry || entry->size < sizeof(BITMAPINFOHEADER)) return nullptr;
  BITMAPINFOHEADER header;
  memcpy(&header, entry->data, sizeof header);
  const uint64_t width = static_cast<uint64_t>(header.biWidth < 0 ? -int64_t{header.biWidth} : header.biWidth);
  const uint64_t height = static_cast<uint64_t>(header.biHeight < 0 ? -int64_t{header.biHeight} : header.biHeight);
  const uint64_t bits = header.biBitCount;
  if (header.biSize < sizeof header || header.biSize > entry->size || width == 0 || height == 0 ||
      width > 16384 || height > 16384 || (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) ||
      header.biCompression != 0)
    return nullptr;
  uint64_t colours = bits <= 8 ? (header.biClrUsed ? header.biClrUsed : (1u << bits)) : 0;
  if (colours > 256) return nullptr;
  uint64_t stride = ((width * bits + 31) / 32) * 4;
  uint64_t offset = header.biSize + colours * 4;
  if (offset + stride * height > entry->size) return nullptr;
  // The header and palette are copied out so that they are aligned for the call.
  std::vector<uint8_t> info(sizeof(BITMAPINFOHEADER) + 256 * 4, 0);
  memcpy(info.data(), entry->data, sizeof(BITMAPINFOHEADER));
  reinterpret_cast<BITMAPINFOHEADER*>(info.data())->biSize = sizeof(BITMAPINFOHEADER);
  memcpy(info.data() + sizeof(BITMAPINFOHEADER), entry->data + header.biSize, static_cast<size_t>(colours * 4));
  void* pixels = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(info.data()), DIB_RGB_COLORS, &pixels,
                                    nullptr, 0);
  if (bitmap && pixels) memcpy(pixels, entry->data + offset, static_cast<size_t>(stride * height));
  return bitmap;
}

namespace {

// One RT_ICON image as an icon: colour and mask bitmaps built from its rows, handed to GDI.
HICON IconFromImage(const Entry& image) {
  if (image.size < sizeof(BITMAPINFOHEADER)) return nullptr;
  BITMAPINFOHEADER header;
  memcpy(&header, image.data, sizeof header);
  const int64_t width = header.biWidth, height = header.biHeight / 2;
  if (header.biSize != sizeof header || header.biBitCount != 32 || width <= 0 || height <= 0 || width > 256 ||
      height > 256 || header.biCompression != 0)
    return nullptr;
  const size_t colourBytes = static_cast<size_t>(width * height * 4);
  const size_t maskStride = static_cast<size_t>(((width + 31) / 32) * 4);
  if (header.biSize + colourBytes + maskStride * static_cast<size_t>(height) > image.size) return nullptr;
  BITMAPINFO info{};
  info.bmiHeader = header;
  info.bmiHeader.biHeight = static_cast<LONG>(height);
  void* bits = nullptr;
  HBITMAP colour = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!colour || !bits) {
    if (colour) DeleteObject(colour);
    return nullptr;
  }
  memcpy(bits, image.data + header.biSize, colourBytes);
  // The mask rows are bottom-up like the colour rows; CreateBitmap wants them top-down, words aligned.
  const size_t wordStride = static_cast<size_t>(((width + 15) / 16) * 2);
  std::vector<uint8_t> mask(wordStride * static_cast<size_t>(height), 0);
  for (int64_t y = 0; y < height; ++y)
    memcpy(mask.data() + static_cast<size_t>(y) * wordStride,
           image.data + header.biSize + colourBytes + static_cast<size_t>(height - 1 - y) * maskStride, wordStride);
  HBITMAP monochrome = CreateBitmap(static_cast<int>(width), static_cast<int>(height), 1, 1, mask.data());
  ICONINFO icon{TRUE, 0, 0, monochrome, colour};
  HICON made = monochrome ? CreateIconIndirect(&icon) : nullptr;
  if (monochrome) DeleteObject(monochrome);
  DeleteObject(colour);
  return made;
}

HICON LoadIconSized(LPCSTR name, int size) {
  const Entry* group = tavrin::res::Lookup(name, RT_GROUP_ICON);
  if (!group || group->size < 6) return nullptr;
  WORD count;
  memcpy(&count, group->data + 4, 2);
  int best = -1, bestDistance = 1 << 30;
  WORD bestId = 0;
  for (WORD i = 0; i < count && 6u + 14u * (i + 1u) <= group->size; ++i) {
    const uint8_t* entry = group->data + 6 + 14 * i;
    int width = entry[0] ? entry[0] : 256;
    int distance = std::abs(width - size);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = i;
      memcpy(&bestId, entry + 12, 2);
    }
  }
  if (best < 0) return nullptr;
  const Entry* image = tavrin::res::Lookup(MAKEINTRESOURCE(bestId), RT_ICON);
  return image ? IconFromImage(*image) : nullptr;
}

}  // namespace

HICON LoadIcon(HINSTANCE, LPCSTR name) { return LoadIconSized(name, 32); }

HANDLE LoadImage(HINSTANCE instance, LPCSTR name, UINT type, int cx, int, UINT) {
  if (type == IMAGE_BITMAP) return LoadBitmap(instance, name);
  if (type == IMAGE_ICON) return LoadIconSized(name, cx > 0 ? cx : 32);
  SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}

namespace {
std::mutex g_acceleratorLock;
std::set<std::vector<ACCEL>*>& AcceleratorTables() {
  static auto* tables = new std::set<std::vector<ACCEL>*>;  // never destroyed
  return *tables;
}
}  // namespace

HACCEL LoadAccelerators(HINSTANCE, LPCSTR name) {
  const Entry* entry = tavrin::res::Lookup(name, RT_ACCELERATOR);
  if (!entry) return nullptr;
  auto table = std::make_unique<std::vector<ACCEL>>();
  // 8-byte records: flags, key, command, padding; the last one's flags carry 0x80.
  for (size_t at = 0; at + 8 <= entry->size; at += 8) {
    WORD flags, key, command;
    memcpy(&flags, entry->data + at, 2);
    memcpy(&key, entry->data + at + 2, 2);
    memcpy(&command, entry->data + at + 4, 2);
    table->push_back(ACCEL{static_cast<BYTE>(flags & 0x7F), key, command});
    if (flags & 0x80) break;
  }
  std::lock_guard guard(g_acceleratorLock);
  auto* raw = table.release();
  AcceleratorTables().insert(raw);
  return reinterpret_cast<HACCEL>(raw);
}

int TranslateAccelerator(HWND hwnd, HACCEL handle, LPMSG msg) {
  if (!hwnd || !msg) return 0;
  std::vector<ACCEL> table;
  {
    std::lock_guard guard(g_acceleratorLock);
    auto* raw = reinterpret_cast<std::vector<ACCEL>*>(handle);
    if (!AcceleratorTables().count(raw)) return 0;
    table = *raw;
  }
  const bool keyDown = msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN;
  const bool character = msg->message == WM_CHAR || msg->message == WM_SYSCHAR;
  if (!keyDown && !character) return 0;
  const BYTE held = static_cast<BYTE>((GetKeyState(VK_SHIFT) < 0 ? FSHIFT : 0) | (GetKeyState(VK_CONTROL) < 0 ? FCONTROL : 0) |
                                      (GetKeyState(VK_MENU) < 0 ? FALT : 0));
  for (const ACCEL& accel : table) {
    bool virtualKey = accel.fVirt & FVIRTKEY;
    if (virtualKey != keyDown || accel.key != static_cast<WORD>(msg->wParam)) continue;
    if (virtualKey && (accel.fVirt & (FSHIFT | FCONTROL | FALT)) != held) continue;
    SendMessage(hwnd, WM_COMMAND, MAKEWPARAM(accel.cmd, 1), 0);
    return 1;
  }
  return 0;
}

BOOL DestroyAcceleratorTable(HACCEL handle) {
  std::lock_guard guard(g_acceleratorLock);
  auto* raw = reinterpret_cast<std::vector<ACCEL>*>(handle);
  if (!AcceleratorTables().erase(raw)) return FALSE;
  delete raw;
  return TRUE;
}

// A version block as handed out: the resource's bytes, then as much room again, where VerQueryValue
// leaves the 8-bit copies of the texts (each at half its UTF-16 offset, so they never overlap).
DWORD tavrin::res::OwnVersionInfoSize(LPCSTR file, LPDWORD handle) {
  if (handle) *handle = 0;
  const Entry* entry = tavrin::res::VersionOf(file);
  if (!entry) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return 0;
  }
  return static_cast<DWORD>(entry->size * 2);
}

BOOL tavrin::res::OwnVersionInfo(LPCSTR file, DWORD, DWORD size, LPVOID data) {
  const Entry* entry = tavrin::res::VersionOf(file);
  if (!entry || !data) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return FALSE;
  }
  if (size < entry->size * 2) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  memcpy(data, entry->data, entry->size);
  memset(static_cast<uint8_t*>(data) + entry->size, 0, entry->size);
  return TRUE;
}

namespace {

// One node of the version tree: wLength, wValueLength, wType, the UTF-16 key, then the value and the
// children, each on a 4-byte boundary.
struct VersionNode {
  size_t start = 0;
  size_t end = 0;
  std::u16string key;
  size_t value = 0;
  size_t valueBytes = 0;
  bool text = false;
  size_t children = 0;
};

size_t Align4(size_t at) { return (at + 3) & ~size_t{3}; }

bool ReadNode(const uint8_t* block, size_t limit, size_t at, VersionNode& node) {
  if (at + 6 > limit) return false;
  WORD length, valueLength, type;
  memcpy(&length, block + at, 2);
  memcpy(&valueLength, block + at + 2, 2);
  memcpy(&type, block + at + 4, 2);
  if (length < 6 || at + length > limit) return false;
  node.start = at;
  node.end = at + length;
  node.key.clear();
  size_t p = at + 6;
  for (;;) {
    if (p + 2 > node.end) return false;
    char16_t c;
    memcpy(&c, block + p, 2);
    p += 2;
    if (!c) break;
    node.key.push_back(c);
  }
  node.text = type == 1;
  node.value = Align4(p);
  node.valueBytes = node.text ? 2u * valueLength : valueLength;
  if (node.value + node.valueBytes > node.end) return false;
  node.children = Align4(node.value + node.valueBytes);
  return true;
}

bool SameKey(const std::u16string& key, const std::string& part) {
  if (key.size() != part.size()) return false;
  for (size_t i = 0; i < key.size(); ++i)
    if (key[i] > 127 || tolower(static_cast<int>(key[i])) != tolower(static_cast<unsigned char>(part[i]))) return false;
  return true;
}

}  // namespace

BOOL tavrin::res::QueryOwnVersionValue(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, PUINT length) {
  if (!block || !subBlock || !buffer || !length) return FALSE;
  auto* bytes = static_cast<const uint8_t*>(block);
  WORD rootLength;
  memcpy(&rootLength, bytes, 2);
  VersionNode node;
  if (!ReadNode(bytes, rootLength, 0, node)) return FALSE;
  std::string path = subBlock;
  size_t at = 0;
  while (at < path.size()) {
    while (at < path.size() && path[at] == '\\') ++at;
    if (at >= path.size()) break;
    size_t next = path.find('\\', at);
    std::string part = path.substr(at, next == std::string::npos ? std::string::npos : next - at);
    at = next == std::string::npos ? path.size() : next;
    bool found = false;
    for (size_t child = node.children; child + 6 <= node.end;) {
      VersionNode candidate;
      if (!ReadNode(bytes, node.end, child, candidate)) return FALSE;
      if (SameKey(candidate.key, part)) {
        node = candidate;
        found = true;
        break;
      }
      child = Align4(candidate.end);
    }
    if (!found) return FALSE;
  }
  if (!node.text) {
    *buffer = const_cast<uint8_t*>(bytes + node.value);
    *length = static_cast<UINT>(node.valueBytes);
    return node.valueBytes > 0;
  }
  // Texts come back 8-bit, copied into the block's second half.
  auto* copy = const_cast<uint8_t*>(bytes) + rootLength + node.value / 2;
  size_t chars = node.valueBytes / 2;
  size_t n = 0;
  for (; n < chars; ++n) {
    char16_t c;
    memcpy(&c, bytes + node.value + 2 * n, 2);
    if (!c) break;
    copy[n] = c < 256 ? static_cast<uint8_t>(c) : '?';
  }
  copy[n] = 0;
  *buffer = copy;
  *length = static_cast<UINT>(n + 1);
  return chars > 0;
}
