#include "win32/sysroot.h"

#include <cctype>

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
  return base::sysroot::MapBelow(at, rest, "\\/", true);
}

}  // namespace tavrin::sysroot
