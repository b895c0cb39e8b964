// The sysroot: one directory that stands in for the machine the programs believe they run on. Each layer
// lays out its own part of it (the Windows drive, the registry hive, the Mac folder); run/ holds sockets and
// shared objects. TAVRIN_SYSROOT names it; tests make a fresh one each.
#pragma once
#include <filesystem>
#include <string_view>

namespace tavrin::base::sysroot {

// TAVRIN_SYSROOT, else $XDG_DATA_HOME/tavrin, else ~/.local/share/tavrin. Created on use.
std::filesystem::path Root();
// The same path without creating it: a name to key what is kept per sysroot.
std::filesystem::path RootName();
// Points this process (and the processes it starts, through the environment) at another sysroot.
void SetRoot(const std::filesystem::path& root);
// <root>/relative, created on use.
std::filesystem::path Dir(const std::filesystem::path& relative);
// <root>/run: sockets and shared objects, created on use.
std::filesystem::path RunDir();

// A path of the machine the programs believe they run on, mapped below `top` (a folder of the sysroot): its
// parts split at any of `separators`, "." and empty parts skipped, ".." never climbing above `top`. With
// `anyCase`, parts are matched to existing entries whatever their case while the folders exist (the Windows
// file system); once one is missing, the rest keep their spelling.
std::filesystem::path MapBelow(const std::filesystem::path& top, std::string_view path, std::string_view separators,
                               bool anyCase);

}  // namespace tavrin::base::sysroot
