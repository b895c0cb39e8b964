// The records of the sysroot's top-level windows, and the tools' side of the automation protocol.
#include "gui/sysroot_windows.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "base/files.h"
#include "base/sysroot.h"
#include "gui/automation.h"

namespace fs = std::filesystem;

namespace tavrin::gui::automation {
namespace {

// The kernel's start time of a process (clock ticks since boot): with the id it names one process even
// after the id is reused. 0 when the process does not exist.
unsigned long long ProcessStartTime(long pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return 0;
  auto close = line.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(line.substr(close + 1));
  std::string field;
  for (int i = 3; i <= 22 && fields >> field; ++i)  // the start time is field 22
    if (i == 22) return strtoull(field.c_str(), nullptr, 10);
  return 0;
}

// Remembered by process: a child forked after a record was written is another process.
unsigned long long OwnStartTime() {
  static std::atomic<long> knownPid{0};
  static std::atomic<unsigned long long> knownStart{0};
  const long pid = getpid();
  if (knownPid.load() != pid) {
    knownStart.store(ProcessStartTime(pid));
    knownPid.store(pid);
  }
  return knownStart.load();
}

fs::path WindowsDir() { return base::sysroot::RunDir() / "windows"; }

std::string RecordName(uint32_t pid, uint64_t handle) {
  char name[32];
  snprintf(name, sizeof name, "%08" PRIx32 "-%016" PRIx64, pid, handle);
  return name;
}

bool ParseRecordName(const std::string& name, uint32_t& pid, uint64_t& handle) {
  unsigned int parsedPid = 0;
  unsigned long long parsedHandle = 0;
  int used = 0;
  if (name.size() != 25 || sscanf(name.c_str(), "%8x-%16llx%n", &parsedPid, &parsedHandle, &used) != 2 ||
      used != 25)
    return false;
  pid = parsedPid;
  handle = parsedHandle;
  return true;
}

// "pid start classLength titleLength\n" then the class and the title, so that any text survives. True for
// a record whose process lives; a record of a process that is gone is removed.
bool ReadLiveRecord(const fs::path& path, PublishedWindow& window) {
  std::ifstream in(path, std::ios::binary);
  long pid = 0;
  unsigned long long startTime = 0;
  size_t classLength = 0, titleLength = 0;
  if (!(in >> pid >> startTime >> classLength >> titleLength) || in.get() != '\n') return false;
  if (classLength > 4096 || titleLength > 65536 || pid != static_cast<long>(window.pid)) return false;
  window.className.resize(classLength);
  window.title.resize(titleLength);
  in.read(window.className.data(), static_cast<std::streamsize>(classLength));
  in.read(window.title.data(), static_cast<std::streamsize>(titleLength));
  if (!in) return false;
  if (startTime != 0 && ProcessStartTime(pid) == startTime) return true;
  std::error_code ec;
  fs::remove(path, ec);
  return false;
}

bool Ask(const PublishedWindow& window, Request request, std::string* payload, const std::string& command = {}) {
  Reply reply{};
  request.window = window.handle;
  return automation::Ask(window.pid, request, reply, command, payload);
}

}  // namespace

fs::path Publish(uint64_t handle, const std::string& className, const std::string& title, const fs::path& existing) {
  fs::path path = existing;
  if (path.empty()) {
    std::error_code ec;
    fs::create_directories(WindowsDir(), ec);
    path = WindowsDir() / RecordName(static_cast<uint32_t>(getpid()), handle);
  }
  std::string record = std::to_string(getpid()) + ' ' + std::to_string(OwnStartTime()) + ' ' +
                       std::to_string(className.size()) + ' ' + std::to_string(title.size()) + '\n' + className + title;
  if (base::files::ReplaceContents(path, record, base::files::Durability::kUnsynced) != 0) return existing;
  return path;
}

void Unpublish(const fs::path& record) {
  std::error_code ec;
  fs::remove(record, ec);
}

std::vector<PublishedWindow> OtherProcessesWindows() {
  std::vector<PublishedWindow> found;
  const auto self = static_cast<uint32_t>(getpid());
  std::error_code ec;
  for (auto& entry : fs::directory_iterator(WindowsDir(), ec)) {
    PublishedWindow window;
    // Half-written records (name.XXXXXX) do not parse.
    if (!ParseRecordName(entry.path().filename().string(), window.pid, window.handle) || window.pid == self) continue;
    if (ReadLiveRecord(entry.path(), window)) found.push_back(std::move(window));
  }
  std::sort(found.begin(), found.end(), [](const PublishedWindow& a, const PublishedWindow& b) {
    return a.pid != b.pid ? a.pid < b.pid : a.handle < b.handle;
  });
  return found;
}

std::optional<PublishedWindow> FindPublished(uint32_t pid, uint64_t handle) {
  PublishedWindow window{.pid = pid, .handle = handle, .className = {}, .title = {}};
  if (!ReadLiveRecord(WindowsDir() / RecordName(pid, handle), window)) return std::nullopt;
  return window;
}

std::optional<PublishedWindow> FindByTitle(const std::string& title) {
  for (auto& window : OtherProcessesWindows())
    if (base::files::EqualsNoCase(window.title, title)) return window;
  return std::nullopt;
}

std::vector<std::string> ListAllWindows() {
  std::vector<std::string> lines;
  uint32_t listed = 0;
  for (auto& window : OtherProcessesWindows()) {
    if (window.pid == listed) continue;  // one listing a process
    listed = window.pid;
    std::string text;
    if (!Ask(window, {.op = static_cast<uint32_t>(Op::kList)}, &text)) continue;
    lines.push_back("process " + std::to_string(window.pid));
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
  }
  return lines;
}

bool Screenshot(const PublishedWindow* window, std::vector<uint8_t>& png) {
  Request request{.op = static_cast<uint32_t>(Op::kScreenshot), .argument = window ? 0 : 1};
  PublishedWindow first;
  if (!window) {
    auto all = OtherProcessesWindows();
    if (all.empty()) return false;
    first = all.front();
    window = &first;
  }
  std::string bytes;
  if (!Ask(*window, request, &bytes)) return false;
  png.assign(bytes.begin(), bytes.end());
  return true;
}

bool Input(const PublishedWindow& window, const std::string& command) {
  if (command.empty() || command.size() > static_cast<size_t>(kMaxCommand)) return false;
  return Ask(window, {.op = static_cast<uint32_t>(Op::kInput)}, nullptr, command);
}

}  // namespace tavrin::gui::automation
