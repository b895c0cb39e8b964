#include "win32/sysroot.h"

#include <cctype>
#include <mutex>
#include <unordered_map>

#include "base/files.h"
#include "base/sysroot.h"

namespace fs = std::filesystem;

namespace tavrin::sysroot {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Walks the folders, resolving each existing part case-insensitively.
fs::path Walk(const std::string& windowsPath) {
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

// The paths walked last, per sysroot: one found last time is taken again while it is there, so that a run
// of calls on one file costs a status each, not a walk through every folder.
std::mutex g_walkedLock;
std::unordered_map<std::string, fs::path>& Walked() {
  static auto* walked = new std::unordered_map<std::string, fs::path>;
  return *walked;
}
constexpr size_t kWalkedPaths = 64;

}  // namespace

fs::path Root() { return base::sysroot::Root(); }

void SetRoot(const fs::path& root) { base::sysroot::SetRoot(root); }

fs::path WindowsDir() { return base::sysroot::Dir("C/WINDOWS"); }

fs::path RunDir() { return base::sysroot::RunDir(); }

fs::path MapPath(const std::string& windowsPath) { return Locate(windowsPath).path; }

Located Locate(const std::string& windowsPath) {
  Located found;
  // A relative path depends on the working directory: walked each time.
  const bool absolute = (windowsPath.size() >= 2 && windowsPath[1] == ':') ||
                        (!windowsPath.empty() && IsSeparator(windowsPath[0]));
  const std::string key = absolute ? base::sysroot::RootName().string() + '|' + windowsPath : std::string();
  if (absolute) {
    std::lock_guard guard(g_walkedLock);
    auto walked = Walked().find(key);
    if (walked != Walked().end()) found.path = walked->second;
  }
  if (!found.path.empty() && stat(found.path.c_str(), &found.status) == 0) {
    found.exists = true;
    return found;
  }
  // A file found last time and gone now (deleted to be written anew): its folder, walked then, still
  // stands for the folders of the path, and only the last part is looked for.
  const fs::path folder = found.path.parent_path();
  const size_t lastPart = windowsPath.find_last_of("\\/");
  struct stat folderStatus;
  const std::string name = lastPart == std::string::npos ? std::string() : windowsPath.substr(lastPart + 1);
  if (!found.path.empty() && !name.empty() && name != "." && windowsPath.find("..") == std::string::npos &&
      stat(folder.c_str(), &folderStatus) == 0 &&
      S_ISDIR(folderStatus.st_mode)) {
    const std::optional<std::string> entry = base::files::FindNoCase(folder, name);
    found.path = folder / entry.value_or(name);
    if (!entry) return found;  // nothing of that name, in any case, to look at
  } else {
    found.path = Walk(windowsPath);
  }
  found.exists = stat(found.path.c_str(), &found.status) == 0;
  if (absolute && found.exists) {  // only what exists: a file made later may take another case
    std::lock_guard guard(g_walkedLock);
    if (Walked().size() >= kWalkedPaths) Walked().clear();
    Walked()[key] = found.path;
  }
  return found;
}

}  // namespace tavrin::sysroot
