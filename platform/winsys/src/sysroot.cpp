#include "win32/sysroot.h"

#include <cctype>

#include "base/files.h"
#include "base/sysroot.h"

namespace fs = std::filesystem;

namespace tavrin::sysroot {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

fs::path Root() { return base::sysroot::Root(); }

void SetRoot(const fs::path& root) { base::sysroot::SetRoot(root); }

fs::path WindowsDir() { return base::sysroot::Dir("C/WINDOWS"); }

fs::path RunDir() { return base::sysroot::RunDir(); }

fs::path MapPath(const std::string& windowsPath) {
  std::string_view rest = windowsPath;
  fs::path at;
  if (rest.size() >= 2 && rest[1] == ':' && isalpha(static_cast<unsigned char>(rest[0]))) {
    char drive = static_cast<char>(toupper(static_cast<unsigned char>(rest[0])));
    if (drive == 'C') WindowsDir();  // so "c:\windows\..." finds the one Windows directory
    at = base::sysroot::Dir(std::string(1, drive));
    rest.remove_prefix(2);
  } else if (!rest.empty() && IsSeparator(rest[0])) {
    WindowsDir();
    at = Root() / "C";
  } else {
    std::error_code ec;
    at = fs::current_path(ec);
  }
  const fs::path top = at;

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
      if (at != top) at = at.parent_path();
      std::error_code ec;
      existing = fs::is_directory(at, ec);
      continue;
    }
    if (existing) {
      name = base::files::ResolveNoCase(at, name);
      std::error_code ec;
      existing = fs::is_directory(at / name, ec);
    }
    at /= name;
  }
  return at;
}

}  // namespace tavrin::sysroot
