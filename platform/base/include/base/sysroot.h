// The sysroot: one directory that stands in for the machine the programs believe they run on. Each layer
// lays out its own part of it (the Windows drive, the registry hive, the Mac folder); run/ holds sockets and
// shared objects. TAVRIN_SYSROOT names it; tests make a fresh one each.
#pragma once
#include <filesystem>

namespace tavrin::base::sysroot {

// TAVRIN_SYSROOT, else $XDG_DATA_HOME/tavrin, else ~/.local/share/tavrin. Created on use.
std::filesystem::path Root();
// Points this process (and the processes it starts, through the environment) at another sysroot.
void SetRoot(const std::filesystem::path& root);
// <root>/relative, created on use.
std::filesystem::path Dir(const std::filesystem::path& relative);
// <root>/run: sockets and shared objects, created on use.
std::filesystem::path RunDir();

}  // namespace tavrin::base::sysroot
