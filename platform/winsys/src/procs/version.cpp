// Version blocks: the ".tavrin_version" section of an ELF file, read with bounds on every offset, turned
// into a block of a fixed part followed by the "name=value" strings.
#include "win32/version.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "win32/sync.h"
#include "win32/sysroot.h"
#include "win32/system_hooks.h"

namespace tavrin::procs {
namespace {

constexpr char kBlockMagic[4] = {'T', 'V', 'V', 'I'};
constexpr char kSection[] = ".tavrin_version";
constexpr size_t kMaxSection = 64 * 1024;
constexpr size_t kFixedOffset = 8;
constexpr size_t kTranslationOffset = kFixedOffset + sizeof(VS_FIXEDFILEINFO);
constexpr size_t kStringsOffset = kTranslationOffset + 4;

class File {
 public:
  explicit File(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~File() {
    if (fd_ >= 0) close(fd_);
  }
  bool Open() const { return fd_ >= 0; }
  bool Read(uint64_t offset, void* out, size_t size) const {
    return pread(fd_, out, size, static_cast<off_t>(offset)) == static_cast<ssize_t>(size);
  }

 private:
  int fd_;
};

uint64_t Le(const unsigned char* p, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | p[i];
  return value;
}

// The section's bytes from a 64-bit little-endian ELF file; false when there is none.
bool ReadSection(const File& file, std::string& out) {
  unsigned char header[64];
  if (!file.Read(0, header, sizeof header) || memcmp(header, "\x7F" "ELF", 4) != 0 || header[4] != 2 ||
      header[5] != 1)
    return false;
  const uint64_t shoff = Le(header + 0x28, 8);
  const uint64_t entsize = Le(header + 0x3A, 2);
  const uint64_t count = Le(header + 0x3C, 2);
  const uint64_t strndx = Le(header + 0x3E, 2);
  if (entsize < 64 || count == 0 || count > 4096 || strndx >= count) return false;
  auto sectionHeader = [&](uint64_t index, unsigned char* sh) { return file.Read(shoff + index * entsize, sh, 64); };
  unsigned char strings[64];
  if (!sectionHeader(strndx, strings)) return false;
  const uint64_t namesOffset = Le(strings + 0x18, 8), namesSize = Le(strings + 0x20, 8);
  if (namesSize == 0 || namesSize > 1024 * 1024) return false;
  std::vector<char> names(namesSize + 1, '\0');
  if (!file.Read(namesOffset, names.data(), namesSize)) return false;
  for (uint64_t i = 0; i < count; ++i) {
    unsigned char sh[64];
    if (!sectionHeader(i, sh)) return false;
    const uint64_t nameAt = Le(sh, 4);
    if (nameAt >= namesSize || strcmp(names.data() + nameAt, kSection) != 0) continue;
    const uint64_t offset = Le(sh + 0x18, 8), size = Le(sh + 0x20, 8);
    if (size == 0 || size > kMaxSection) return false;
    out.resize(size);
    return file.Read(offset, out.data(), size);
  }
  return false;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

// "a.b.c.d" into the two words of a fixed version.
void ParseVersion(const std::string& text, DWORD& ms, DWORD& ls) {
  unsigned parts[4] = {0, 0, 0, 0};
  sscanf(text.c_str(), "%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]);
  ms = ((parts[0] & 0xFFFF) << 16) | (parts[1] & 0xFFFF);
  ls = ((parts[2] & 0xFFFF) << 16) | (parts[3] & 0xFFFF);
}

// The block: magic, size, VS_FIXEDFILEINFO, translation word, "name=value\0" strings and a final NUL.
std::string BuildBlock(const std::string& section) {
  std::string strings;
  VS_FIXEDFILEINFO fixed{};
  fixed.dwSignature = 0xFEEF04BD;
  fixed.dwStrucVersion = 0x00010000;
  fixed.dwFileOS = 0x00040004;  // 32-bit Windows on NT
  fixed.dwFileType = 1;         // an application
  DWORD translation = 0;
  size_t start = 0;
  while (start < section.size()) {
    size_t end = section.find_first_of("\n\0", start, 2);
    if (end == std::string::npos) end = section.size();
    std::string line = section.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    const std::string name = line.substr(0, eq), value = line.substr(eq + 1);
    strings += name + "=" + value + '\0';
    const std::string lower = Lower(name);
    const std::string prefix = "\\stringfileinfo\\";
    if (lower.rfind(prefix, 0) == 0 && translation == 0 && lower.size() > prefix.size() + 8) {
      unsigned long code = strtoul(name.substr(prefix.size(), 8).c_str(), nullptr, 16);
      translation = static_cast<DWORD>(((code >> 16) & 0xFFFF) | ((code & 0xFFFF) << 16));
    }
    if (lower.size() >= 12 && lower.compare(lower.size() - 12, 12, "\\fileversion") == 0)
      ParseVersion(value, fixed.dwFileVersionMS, fixed.dwFileVersionLS);
    if (lower.size() >= 15 && lower.compare(lower.size() - 15, 15, "\\productversion") == 0)
      ParseVersion(value, fixed.dwProductVersionMS, fixed.dwProductVersionLS);
  }
  strings += '\0';
  std::string block(kStringsOffset, '\0');
  memcpy(block.data(), kBlockMagic, 4);
  memcpy(block.data() + kFixedOffset, &fixed, sizeof fixed);
  memcpy(block.data() + kTranslationOffset, &translation, 4);
  block += strings;
  const DWORD total = static_cast<DWORD>(block.size());
  memcpy(block.data() + 4, &total, 4);
  return block;
}

bool ReadBlock(LPCSTR fileName, std::string& block) {
  if (!fileName || !*fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  File file(sysroot::MapPath(fileName).string());
  if (!file.Open()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return false;
  }
  std::string section;
  if (!ReadSection(file, section)) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return false;
  }
  block = BuildBlock(section);
  return true;
}

// The running program's own version resource (a table of the windowing layer's resources).
DWORD OwnVersionInfoSize(LPCSTR fileName, LPDWORD handle) {
  auto size = system_hooks::Installed().ownVersionInfoSize;
  return size ? size(fileName, handle) : 0;
}

}  // namespace
}  // namespace tavrin::procs

DWORD GetFileVersionInfoSize(LPCSTR fileName, LPDWORD handle) {
  if (handle) *handle = 0;
  // The running program's registered version block answers for its own file.
  if (DWORD own = tavrin::procs::OwnVersionInfoSize(fileName, handle)) return own;
  std::string block;
  if (!tavrin::procs::ReadBlock(fileName, block)) return 0;
  return static_cast<DWORD>(block.size());
}

BOOL GetFileVersionInfo(LPCSTR fileName, DWORD handle, DWORD length, LPVOID data) {
  if (tavrin::procs::OwnVersionInfoSize(fileName, nullptr))
    return tavrin::system_hooks::Installed().ownVersionInfo(fileName, handle, length, data);
  std::string block;
  if (!data) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!tavrin::procs::ReadBlock(fileName, block)) return FALSE;
  if (length < block.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  memcpy(data, block.data(), block.size());
  return TRUE;
}

BOOL VerQueryValue(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, UINT* length) {
  using namespace tavrin::procs;
  if (block && memcmp(block, kBlockMagic, 4) != 0) {
    // Not a file's block: one of the program's own resource table, if it has one.
    auto query = tavrin::system_hooks::Installed().queryOwnVersionValue;
    if (query) return query(block, subBlock, buffer, length);
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!block || !subBlock || !buffer || !length) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const char* base = static_cast<const char*>(block);
  DWORD total = 0;
  memcpy(&total, base + 4, 4);
  const std::string wanted = Lower(subBlock);
  if (wanted == "\\" || wanted.empty()) {
    *buffer = const_cast<char*>(base + kFixedOffset);
    *length = sizeof(VS_FIXEDFILEINFO);
    return TRUE;
  }
  if (wanted == "\\varfileinfo\\translation") {
    *buffer = const_cast<char*>(base + kTranslationOffset);
    *length = 4;
    return TRUE;
  }
  // The strings end at the block's size, which GetFileVersionInfo wrote.
  for (size_t at = kStringsOffset; at < total && base[at];) {
    const char* entry = base + at;
    const size_t size = strnlen(entry, total - at);
    if (at + size >= total) break;
    const char* eq = static_cast<const char*>(memchr(entry, '=', size));
    if (eq && Lower(std::string(entry, eq)) == wanted) {
      *buffer = const_cast<char*>(eq + 1);
      *length = static_cast<UINT>(entry + size - (eq + 1) + 1);
      return TRUE;
    }
    at += size + 1;
  }
  *buffer = nullptr;
  *length = 0;
  SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return FALSE;
}
