#include "win32/profile.h"

#include <errno.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "ini/ini.h"
#include "storage_internal.h"
#include "win32/sync.h"
#include "win32/sysroot.h"

namespace fs = std::filesystem;

namespace tavrin {
namespace {

using ini::Document;
using ini::FindKey;
using ini::FindSection;
using ini::Line;
using ini::Section;

std::mutex g_writeLock;  // orders this process's read-modify-write cycles

sysroot::Located FindProfile(LPCSTR fileName) {
  std::string name = fileName ? fileName : "win.ini";
  if (name.find_first_of("\\/:") == std::string::npos) name = "C:\\WINDOWS\\" + name;
  return sysroot::Locate(name);
}

// What tells one state of a file from another without reading it. The times are kept to the nanosecond;
// the change time moves with every write and cannot be set back by another program.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{}, changed{};

  static FileIdentity Of(const struct stat& st) { return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim}; }
  bool operator==(const FileIdentity& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
           changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
  }
};

// The last files read, parsed: a run of reads of one file costs one read and one parse while the file
// stays as it was and this process changes no file.
struct CachedProfile {
  FileIdentity identity;
  uint64_t fileChanges = 0;
  std::shared_ptr<const Document> document;
};

std::mutex g_cacheLock;
std::unordered_map<std::string, CachedProfile>& Cache() {
  static auto* cache = new std::unordered_map<std::string, CachedProfile>;
  return *cache;
}
constexpr size_t kCachedProfiles = 16;

std::shared_ptr<const Document> Load(const sysroot::Located& file) {
  if (!file.exists) {  // a missing file reads as empty
    static const auto* empty = new std::shared_ptr<const Document>(std::make_shared<const Document>());
    return *empty;
  }
  const FileIdentity identity = FileIdentity::Of(file.status);
  const uint64_t changes = storage::FileChanges();  // taken before the read: a change during it reloads
  {
    std::lock_guard guard(g_cacheLock);
    auto found = Cache().find(file.path.string());
    if (found != Cache().end() && found->second.fileChanges == changes && found->second.identity == identity)
      return found->second.document;
  }
  // The status was taken before the bytes are read: a file changed since then differs next time.
  std::string bytes;
  storage::ReadWhole(file.path, bytes);
  auto document = std::make_shared<const Document>(ini::Parse(bytes));
  std::lock_guard guard(g_cacheLock);
  if (Cache().size() >= kCachedProfiles) Cache().clear();
  Cache()[file.path.string()] = CachedProfile{identity, changes, document};
  return document;
}

std::string Unquote(const std::string& value) {
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
    return value.substr(1, value.size() - 2);
  return value;
}

DWORD CopyString(const std::string& text, LPSTR out, DWORD size) {
  DWORD length = static_cast<DWORD>(std::min<size_t>(text.size(), size - 1));
  memcpy(out, text.data(), length);
  out[length] = '\0';
  return length;
}

// names each ended by NUL, the list by one more NUL.
DWORD CopyList(const std::vector<std::string>& names, LPSTR out, DWORD size) {
  std::string list;
  for (const std::string& name : names) list += name + '\0';
  if (list.size() < size) {
    memcpy(out, list.data(), list.size());
    out[list.size()] = '\0';
    if (list.empty() && size > 1) out[1] = '\0';
    return static_cast<DWORD>(list.size());
  }
  if (size < 2) {
    out[0] = '\0';
    return 0;
  }
  memcpy(out, list.data(), size - 2);
  out[size - 2] = out[size - 1] = '\0';
  return size - 2;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

bool IsBlank(const Line& line) { return line.text.find_first_not_of(" \t\r") == std::string::npos; }

// Inserts after the section's last non-blank line, so that blank lines before the next section stay there.
void AddKey(Section& section, const std::string& key, const std::string& value) {
  size_t at = section.lines.size();
  while (at > 0 && IsBlank(section.lines[at - 1])) --at;
  section.lines.insert(section.lines.begin() + static_cast<long>(at), Line{key + "=" + value, key, value});
}

}  // namespace
}  // namespace tavrin

using namespace tavrin;

DWORD GetPrivateProfileString(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault, LPSTR lpReturnedString,
                              DWORD nSize, LPCSTR lpFileName) {
  if (!lpReturnedString || nSize == 0) return 0;
  const std::shared_ptr<const Document> loaded = Load(FindProfile(lpFileName));
  const Document& doc = *loaded;
  std::vector<std::string> names;
  if (!lpAppName) {
    for (const Section& s : doc.sections) names.push_back(s.name);
    return CopyList(names, lpReturnedString, nSize);
  }
  const Section* section = FindSection(doc, lpAppName);
  if (!lpKeyName) {
    if (section)
      for (const Line& line : section->lines)
        if (!line.key.empty()) names.push_back(line.key);
    return CopyList(names, lpReturnedString, nSize);
  }
  if (const Line* line = section ? FindKey(*section, lpKeyName) : nullptr)
    return CopyString(Unquote(line->value), lpReturnedString, nSize);
  std::string fallback = lpDefault ? lpDefault : "";
  fallback.erase(fallback.find_last_not_of(' ') + 1);
  return CopyString(fallback, lpReturnedString, nSize);
}

UINT GetPrivateProfileInt(LPCSTR lpAppName, LPCSTR lpKeyName, INT nDefault, LPCSTR lpFileName) {
  if (!lpAppName || !lpKeyName) return static_cast<UINT>(nDefault);
  const std::shared_ptr<const Document> loaded = Load(FindProfile(lpFileName));
  const Section* section = FindSection(*loaded, lpAppName);
  const Line* line = section ? FindKey(*section, lpKeyName) : nullptr;
  if (!line) return static_cast<UINT>(nDefault);
  std::string_view text = line->value;
  bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) text.remove_prefix(1);
  uint64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') break;
    number = std::min<uint64_t>(number * 10 + static_cast<uint64_t>(c - '0'), 0xFFFFFFFFull);
  }
  return negative ? 0u - static_cast<UINT>(number) : static_cast<UINT>(number);
}

BOOL WritePrivateProfileString(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString, LPCSTR lpFileName) {
  if (!lpAppName) return lpKeyName || lpString ? Fail(ERROR_INVALID_PARAMETER) : TRUE;  // all NULL: a flush
  const sysroot::Located profile = FindProfile(lpFileName);
  const fs::path& path = profile.path;
  std::lock_guard guard(g_writeLock);
  if (profile.exists && storage::IsReadOnly(profile.status)) return Fail(ERROR_ACCESS_DENIED);
  std::string bytes;
  if (!storage::ReadWhole(path, bytes) && errno != ENOENT) return Fail(storage::ErrorFromErrno(errno));
  Document doc = ini::Parse(bytes);
  Section* section = FindSection(doc, lpAppName);

  if (!lpKeyName) {
    if (!section) return TRUE;
    doc.sections.erase(doc.sections.begin() + (section - doc.sections.data()));
  } else if (!lpString) {
    Line* line = section ? FindKey(*section, lpKeyName) : nullptr;
    if (!line) return TRUE;
    section->lines.erase(section->lines.begin() + (line - section->lines.data()));
  } else if (Line* line = section ? FindKey(*section, lpKeyName) : nullptr) {
    line->value = lpString;
    line->text = line->key + "=" + lpString;
  } else {
    if (!section) {
      auto& last = doc.sections.empty() ? doc.preamble : doc.sections.back().lines;
      if (!(doc.sections.empty() && doc.preamble.empty()) && (last.empty() || !IsBlank(last.back())))
        last.push_back(Line{});  // a blank line between sections
      doc.sections.push_back(Section{lpAppName, std::string("[") + lpAppName + "]", {}});
      section = &doc.sections.back();
    }
    AddKey(*section, lpKeyName, lpString);
  }

  const int error = storage::ReplaceContents(path, ini::Serialize(doc));
  storage::NoteFileChange();
  if (error) return Fail(error == ENOENT ? ERROR_PATH_NOT_FOUND : storage::ErrorFromErrno(error));
  return TRUE;
}
