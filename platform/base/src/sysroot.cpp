#include "base/sysroot.h"

#include <stdlib.h>

namespace fs = std::filesystem;

namespace tavrin::base::sysroot {
namespace {

fs::path DefaultRoot() {
  if (const char* xdg = getenv("XDG_DATA_HOME"); xdg && *xdg) return fs::path(xdg) / "tavrin";
  const char* home = getenv("HOME");
  return fs::path(home && *home ? home : "/tmp") / ".local/share/tavrin";
}

fs::path MakeDir(fs::path dir) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  return dir;
}

}  // namespace

fs::path Root() {
  const char* env = getenv("TAVRIN_SYSROOT");
  return MakeDir(env && *env ? fs::path(env) : DefaultRoot());
}

void SetRoot(const fs::path& root) {
  setenv("TAVRIN_SYSROOT", root.c_str(), 1);
}

fs::path Dir(const fs::path& relative) { return MakeDir(Root() / relative); }

fs::path RunDir() { return Dir("run"); }

}  // namespace tavrin::base::sysroot
