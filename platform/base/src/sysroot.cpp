#include "base/sysroot.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <optional>
#include <string>
#include <vector>

#include "base/files.h"
#include "base/hive.h"

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

fs::path RootName() {
  const char* env = getenv("TAVRIN_SYSROOT");
  return env && *env ? fs::path(env) : DefaultRoot();
}

fs::path Root() { return MakeDir(RootName()); }

void SetRoot(const fs::path& root) {
  setenv("TAVRIN_SYSROOT", root.c_str(), 1);
  hive::DropCache();  // held for the sysroot left behind
}

fs::path Dir(const fs::path& relative) { return MakeDir(Root() / relative); }

fs::path RunDir() { return Dir("run"); }

namespace {

// The parts of a path without "." and empty ones; false when one of them is "..".
bool PlainParts(std::string_view path, std::string_view separators, std::vector<std::string_view>* parts) {
  for (size_t pos = 0; pos <= path.size();) {
    size_t end = path.find_first_of(separators, pos);
    if (end == std::string_view::npos) end = path.size();
    std::string_view name = path.substr(pos, end - pos);
    pos = end + 1;
    if (name == "..") return false;
    if (!name.empty() && name != ".") parts->push_back(name);
  }
  return true;
}

// Most paths a program names are spelt as they exist: one look at the path as written (or at its folder)
// then answers what matching each part alone would, without a look per part.
std::optional<fs::path> MapAsWritten(const fs::path& top, std::string_view path, std::string_view separators) {
  std::vector<std::string_view> parts;
  if (!PlainParts(path, separators, &parts) || parts.empty()) return std::nullopt;
  fs::path folder = top;
  for (size_t i = 0; i + 1 < parts.size(); ++i) folder /= parts[i];
  const fs::path exact = folder / parts.back();
  struct stat st;
  if (::stat(exact.c_str(), &st) == 0) return exact;
  if (::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    return folder / files::ResolveNoCase(folder, std::string(parts.back()));
  return std::nullopt;
}

}  // namespace

fs::path MapBelow(const fs::path& top, std::string_view path, std::string_view separators, bool anyCase) {
  if (anyCase)
    if (std::optional<fs::path> mapped = MapAsWritten(top, path, separators)) return *mapped;
  fs::path at = top;
  std::error_code ec;
  bool existing = anyCase && fs::is_directory(at, ec);
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t end = path.find_first_of(separators, pos);
    if (end == std::string_view::npos) end = path.size();
    std::string name(path.substr(pos, end - pos));
    pos = end + 1;
    if (name.empty() || name == ".") continue;
    if (name == "..") {
      if (at != top) at = at.parent_path();
      existing = anyCase && fs::is_directory(at, ec);
      continue;
    }
    if (existing) {
      name = files::ResolveNoCase(at, name);
      existing = fs::is_directory(at / name, ec);
    }
    at /= name;
  }
  return at;
}

}  // namespace tavrin::base::sysroot
