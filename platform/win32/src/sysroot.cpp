#include "win32/sysroot.h"

#include <dirent.h>
#include <stdlib.h>

#include <cctype>

#include "storage_internal.h"

namespace fs = std::filesystem;

namespace tavrin::sysroot {
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

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The entry of `dir` whose name equals `name` ignoring case: the exact spelling when it exists, else the
// first match in name order (so that the answer does not depend on the directory's order).
std::string ResolveComponent(const fs::path& dir, const std::string& name) {
  std::error_code ec;
  if (fs::exists(fs::symlink_status(dir / name, ec))) return name;
  std::string best;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* entry = readdir(d)) {
      std::string_view candidate = entry->d_name;
      if (storage::EqualsNoCase(candidate, name) && (best.empty() || candidate < best)) best = candidate;
    }
    closedir(d);
  }
  return best.empty() ? name : best;
}

}  // namespace

fs::path Root() {
  const char* env = getenv("TAVRIN_SYSROOT");
  return MakeDir(env && *env ? fs::path(env) : DefaultRoot());
}

void SetRoot(const fs::path& root) {
  setenv("TAVRIN_SYSROOT", root.c_str(), 1);
  storage::DropRegistryCache();
}

fs::path WindowsDir() { return MakeDir(Root() / "C" / "WINDOWS"); }

fs::path RunDir() { return MakeDir(Root() / "run"); }

fs::path MapPath(const std::string& windowsPath) {
  std::string_view rest = windowsPath;
  fs::path base;
  if (rest.size() >= 2 && rest[1] == ':' && isalpha(static_cast<unsigned char>(rest[0]))) {
    char drive = static_cast<char>(toupper(static_cast<unsigned char>(rest[0])));
    if (drive == 'C') WindowsDir();  // so "c:\windows\..." finds the one Windows directory
    base = MakeDir(Root() / std::string(1, drive));
    rest.remove_prefix(2);
  } else if (!rest.empty() && IsSeparator(rest[0])) {
    WindowsDir();
    base = Root() / "C";
  } else {
    std::error_code ec;
    base = fs::current_path(ec);
  }
  const fs::path top = base;

  // Components are resolved one by one while they exist; once one is missing, the rest keep their spelling.
  bool existing = true;
  size_t pos = 0;
  while (pos <= rest.size()) {
    size_t end = rest.find_first_of("\\/", pos);
    if (end == std::string_view::npos) end = rest.size();
    std::string name(rest.substr(pos, end - pos));
    pos = end + 1;
    if (name.empty() || name == ".") continue;
    if (name == "..") {
      if (base != top) base = base.parent_path();
      std::error_code ec;
      existing = fs::is_directory(base, ec);
      continue;
    }
    if (existing) {
      name = ResolveComponent(base, name);
      std::error_code ec;
      existing = fs::is_directory(base / name, ec);
    }
    base /= name;
  }
  return base;
}

}  // namespace tavrin::sysroot
