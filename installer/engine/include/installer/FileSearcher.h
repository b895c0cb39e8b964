// A recursive file search with a filter (name mask, size, times, attributes, contained text).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "installer/InstallPath.h"
#include "win32/file.h"

namespace installer {

struct FileSearchFilter {
  static constexpr uint32_t kSize = 0x01, kCreationTime = 0x02, kAccessTime = 0x04, kWriteTime = 0x08,
                            kAttributes = 0x10, kContainedText = 0x20;

  std::string folder;
  std::string mask = "*.*";
  std::string containedText;
  uint32_t subFolders = 0;
  uint64_t smallest = 0, largest = 0;
  uint64_t creationFrom = 0, creationTo = 0, accessFrom = 0, accessTo = 0, writeFrom = 0, writeTo = 0;
  uint32_t attributeMask = 0;
  uint32_t flags = 0;

  void Reset() { *this = FileSearchFilter(); }
  // Plain files only: read-only, hidden, system, archive, temporary, compressed.
  void SetPlainFiles() {
    flags |= kAttributes;
    attributeMask = 0x927;
  }
  void SetContainedText(const std::string& text) {
    containedText = text;
    flags |= kContainedText;
  }
};

class FileSearcher {
 public:
  // Callback codes.
  static constexpr int kMatched = 0, kNotMatched = 1, kFolderDone = 2, kReading = 3;
  using Callback = void (*)(FileSearcher* finder, int code, void* user);

  // The number of paths found so far.
  int Search(const FileSearchFilter& filter);
  int Count() const { return static_cast<int>(found_.size()); }
  InstallPath PathAt(int index) const;
  const std::vector<std::string>& Paths() const { return found_; }
  void Clear() { found_.clear(); }
  void SetCallback(Callback callback, void* user) {
    callback_ = callback;
    user_ = user;
  }
  void Stop() { stop_ = 1; }

  // Whether the file holds the text, ignoring letter case and NUL bytes (so UTF-16 text of ASCII characters
  // is found too).
  bool ContainsText(const std::string& path, const std::string& text);

 private:
  void Notify(int code) {
    if (callback_) callback_(this, code, user_);
  }
  bool Accepts(const FileSearchFilter& filter, const std::string& path, const WIN32_FIND_DATA& entry);

  std::vector<std::string> found_;
  uint32_t stop_ = 0;
  Callback callback_ = nullptr;
  void* user_ = nullptr;
};

}  // namespace installer
