#include "installer/FileSearcher.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

namespace installer {
namespace {

uint64_t Time(const FILETIME& t) { return uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime; }

bool IsDots(const char* name) { return !std::strcmp(name, ".") || !std::strcmp(name, ".."); }

void ToLower(char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(p[i])));
}

}  // namespace

InstallPath FileSearcher::PathAt(int index) const {
  if (index < 0 || index >= Count()) return InstallPath();
  return InstallPath(found_[static_cast<size_t>(index)]);
}

int FileSearcher::Search(const FileSearchFilter& filter) {
  stop_ = 0;
  const std::string folder = InstallPath::AddBackslash(filter.folder);
  WIN32_FIND_DATA entry;
  if (filter.subFolders) {
    HANDLE find = FindFirstFile((folder + "*.*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || IsDots(entry.cFileName)) continue;
        FileSearchFilter inner = filter;
        inner.folder = folder + entry.cFileName;
        Search(inner);
      } while (!stop_ && FindNextFile(find, &entry));
      FindClose(find);
    }
    Notify(kFolderDone);
  }
  HANDLE find = FindFirstFile((folder + filter.mask).c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return Count();
  do {
    if (IsDots(entry.cFileName)) continue;
    std::string path = folder + entry.cFileName;
    if (Accepts(filter, path, entry)) {
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) path += "\\";
      found_.push_back(path);
      Notify(kMatched);
    } else {
      Notify(kNotMatched);
    }
  } while (FindNextFile(find, &entry));
  FindClose(find);
  return Count();
}

bool FileSearcher::Accepts(const FileSearchFilter& f, const std::string& path, const WIN32_FIND_DATA& e) {
  if ((f.flags & FileSearchFilter::kAttributes) && !(e.dwFileAttributes & f.attributeMask)) return false;
  const uint64_t size = uint64_t(e.nFileSizeHigh) << 32 | e.nFileSizeLow;
  if ((f.flags & FileSearchFilter::kSize) && (size < f.smallest || size > f.largest)) return false;
  auto inRange = [](uint64_t t, uint64_t from, uint64_t to) { return from <= t && t <= to; };
  if ((f.flags & FileSearchFilter::kCreationTime) && !inRange(Time(e.ftCreationTime), f.creationFrom, f.creationTo))
    return false;
  if ((f.flags & FileSearchFilter::kAccessTime) && !inRange(Time(e.ftLastAccessTime), f.accessFrom, f.accessTo))
    return false;
  if ((f.flags & FileSearchFilter::kWriteTime) && !inRange(Time(e.ftLastWriteTime), f.writeFrom, f.writeTo)) return false;
  if ((f.flags & FileSearchFilter::kContainedText) && !ContainsText(path, f.containedText)) return false;
  return true;
}

bool FileSearcher::ContainsText(const std::string& path, const std::string& text) {
  if (text.empty()) return false;
  HANDLE file = CreateFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const size_t n = text.size();
  const size_t size = std::max<size_t>(128, 2 * n);
  std::string wanted = text;
  ToLower(wanted.data(), n);
  // Each pass starts with the last n bytes of the one before (blanks at first), so a match across two
  // reads is found.
  std::vector<char> carry(n, ' ');
  std::vector<char> buffer(size);
  bool found = false;
  for (int pass = 1;; ++pass) {
    DWORD read = 0;
    if (!ReadFile(file, buffer.data(), static_cast<DWORD>(size - n), &read, nullptr)) break;
    std::string window(carry.begin(), carry.end());
    for (DWORD i = 0; i < read; ++i)
      if (buffer[i] != '\0') window += buffer[i];
    ToLower(window.data(), window.size());
    if (window.find(wanted) != std::string::npos) {
      found = true;
      break;
    }
    if (window.size() >= n) carry.assign(window.end() - static_cast<ptrdiff_t>(n), window.end());
    if (pass % 10 == 0) Notify(kReading);
    if (read < size - n) break;
  }
  CloseHandle(file);
  return found;
}

}  // namespace installer
