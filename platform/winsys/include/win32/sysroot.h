// The sysroot: one directory that stands in for the Windows machine (drive C:, the Windows directory,
// the registry hive, run/ for sockets and shared objects). TAVRIN_SYSROOT names it; tests make a fresh one.
#pragma once
#include <sys/stat.h>

#include <filesystem>
#include <string>

namespace tavrin::sysroot {

// The sysroot directory: TAVRIN_SYSROOT, else $XDG_DATA_HOME/tavrin (~/.local/share/tavrin). Created on use.
std::filesystem::path Root();
// Points this process (and the processes it starts, through the environment) at another sysroot.
void SetRoot(const std::filesystem::path& root);
// <root>/C/WINDOWS, created on use.
std::filesystem::path WindowsDir();
// <root>/run: sockets and shared-memory objects, created on use.
std::filesystem::path RunDir();
// Maps a Windows-form path ("C:\\WINDOWS\\x.log", "\\x", relative names) into the sysroot, resolving each
// existing component case-insensitively; components that do not exist yet keep their spelling.
std::filesystem::path MapPath(const std::string& windowsPath);

// MapPath with the status of what the path names, when it exists.
struct Located {
  std::filesystem::path path;
  bool exists = false;
  struct stat status {};
};
Located Locate(const std::string& windowsPath);

}  // namespace tavrin::sysroot
