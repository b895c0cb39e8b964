// The machine's settings hive: one file in the sysroot (registry.hive) shared by every process of the
// machine, the user-mode registry and the kernel's alike. A tree of keys with typed values; names are
// compared without case and keep their spelling. Every change is a read-modify-write of the file under an
// exclusive file lock, replaced atomically; reads see other processes' changes at once, and a killed
// process loses nothing it changed. Putting the changes on the disk (so that they outlive the machine going
// down) costs two syncs: a run of changes is committed once, when it has been quiet for a moment, when a
// key is closed (Commit), and at exit. The last committed hive is kept as registry.committed (a second name
// of the same file) and read instead of a hive that the machine going down left empty.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "base/hive_format.h"

namespace tavrin::base::hive {

// The names of the hive's roots, as the file holds them.
inline constexpr const char* kMachineRoot = "HKEY_LOCAL_MACHINE";
inline constexpr const char* kCurrentUserRoot = "HKEY_CURRENT_USER";
inline constexpr const char* kUsersRoot = "HKEY_USERS";

// Value types the file stores (as numbers).
enum ValueType : uint32_t { kNone = 0, kString = 1, kExpandString = 2, kBinary = 3, kNumber = 4, kMultiString = 7 };

using KeyPath = std::vector<std::string>;
// The key at `path` below root, or null.
Key* Find(Key& root, const KeyPath& path);
// A value's bytes as readers get them: string values stored without their terminating NUL(s) come with
// them, so that no reader sees an unterminated string.
std::string AnsweredData(const Value& value);

// What a layer adds to every hive it reads (keys every machine has); applied in memory, written with the
// next change.
using Fill = void (*)(Key& root);

// Runs read(root) on the hive as its file holds it now.
void Read(const std::function<void(Key& root)>& read, Fill fill = nullptr);

struct ChangeResult {
  enum class Commit { kDone, kLockFailed, kWriteFailed } commit;
  int error = 0;  // errno, when the lock could not be taken
};
// Runs change(root) under the file lock, on the hive as the file holds it then (so no other process's
// change is lost); when it returns true the hive is written back. A damaged file is kept beside the hive
// before it is first written over, and nothing is written while that copy cannot be made.
ChangeResult Change(const std::function<bool(Key& root)>& change, Fill fill = nullptr);

// Puts the changes made so far on the disk; nothing to do when there are none.
void Commit();

// What is wrong with the hive file as last read ("" when nothing): damaged, of a version this system does
// not read, or unreadable.
std::string Problem();
// Forgets the hive held in memory (the sysroot changed).
void DropCache();

}  // namespace tavrin::base::hive
