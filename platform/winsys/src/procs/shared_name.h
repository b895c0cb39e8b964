// Named objects shared by the processes of one sysroot (events, mutexes, file mappings): each name is a
// file in the run directory that every holding process maps and keeps a shared flock on, so the object
// lives exactly while some process holds it. A guard lock over the run directory keeps creating, opening
// and the last close apart.
#pragma once
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "win32/types.h"

namespace tavrin::procs {

// The file of `name` for objects of one kind ("event", "mutex", "mapping"): session prefixes dropped, unsafe
// characters escaped.
std::filesystem::path SharedNamePath(const char* kind, const std::string& name);

// An open name: its file, held with a shared lock, and the file's bytes mapped read-write.
struct SharedName {
  std::filesystem::path path;
  int fd = -1;
  void* memory = nullptr;
  size_t size = 0;
  bool created = false;  // nobody held the name, and `setUp` ran on the zeroed bytes
};

// Opens (with `create`, creates with `size` bytes) the name's file. An existing object keeps its size,
// which must be at least `minimumSize`. A created object is set up by `setUp` before any other process
// can open it. False with `error` set (ERROR_FILE_NOT_FOUND when no process holds the name).
bool AttachSharedName(const std::filesystem::path& path, bool create, size_t size, size_t minimumSize,
                      const std::function<void(void* memory)>& setUp, SharedName& out, DWORD& error);
// Drops the process's hold; the last holder anywhere removes the file.
void DetachSharedName(SharedName& name);

DWORD ErrorFromErrno(int error);

// The named objects of one kind that this process holds, by file, so that opening a name again shares
// the object already open. Callers hold `lock` over Find and the insertion after a miss.
template <class Object>
struct ProcessNames {
  std::mutex lock;
  std::map<std::filesystem::path, std::weak_ptr<Object>> byPath;

  std::shared_ptr<Object> Find(const std::filesystem::path& path) {
    auto it = byPath.find(path);
    if (it == byPath.end()) return nullptr;
    if (auto object = it->second.lock()) return object;
    byPath.erase(it);
    return nullptr;
  }
};

}  // namespace tavrin::procs
