// Small file operations the layers share: whole reads, atomic replacement, locks between processes and
// names compared without regard to ASCII case.
#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tavrin::base::files {

// Reads a whole file; false (errno set) when it cannot be read.
bool ReadWhole(const std::filesystem::path& path, std::string& bytes);
// Replaces a file's contents at once: a temporary file in the same folder, synced, then renamed over it
// (and the folder synced). Returns 0 or errno. Unsynced, the replacement is still whole for every reader and
// survives the writer being killed; only the machine going down before SyncToDisk may lose it.
enum class Durability { kSynced, kUnsynced };
int ReplaceContents(const std::filesystem::path& path, std::string_view bytes,
                    Durability durability = Durability::kSynced);
// Puts a file and its folder's entry for it on the disk. Returns 0 or errno.
int SyncToDisk(const std::filesystem::path& path);

// ASCII case folding.
bool EqualsNoCase(std::string_view a, std::string_view b);
bool LessNoCase(std::string_view a, std::string_view b);
// The entry of `dir` whose name equals `name` ignoring case: the exact spelling when it exists, else the
// first match in name order (so the answer does not depend on the directory's order), else `name`.
std::string ResolveNoCase(const std::filesystem::path& dir, const std::string& name);
// The same, with nothing when no entry matches.
std::optional<std::string> FindNoCase(const std::filesystem::path& dir, const std::string& name);

// A lock between processes on a file of its own (created, with its folder, when missing), held from
// construction until destruction. Interrupted waits are resumed.
class FileLock {
 public:
  enum class Kind { kShared, kExclusive };
  explicit FileLock(const std::filesystem::path& lockFile, Kind kind = Kind::kExclusive);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool held() const { return fd_ >= 0; }
  // errno of the failure when not held.
  int error() const { return error_; }

 private:
  int fd_ = -1;
  int error_ = 0;
};

}  // namespace tavrin::base::files
