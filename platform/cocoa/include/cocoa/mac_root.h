// The Mac that the Mac side believes it runs on: a folder "Mac" in the sysroot (TAVRIN_SYSROOT, by
// default ~/.local/share/tavrin) that stands for the Mac's root directory.
#pragma once
#include <filesystem>
#include <string>

namespace cocoa {

// <sysroot>/Mac, created on use.
std::filesystem::path MacRoot();
// A Mac path ("/private/var/root/x") under the Mac root; ".." never leaves the root. Relative paths are
// taken from the Mac root too.
std::filesystem::path MacPath(const std::string& macPath);
// <sysroot>/run, created on use: sockets of the processes that stand in for the Mac's services.
std::filesystem::path RunDir();

}  // namespace cocoa
