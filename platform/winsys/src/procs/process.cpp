// Processes: fork and exec of the installed Linux program, a pidfd to wait on, the child reaped when it
// ends. The command line travels in TAVRIN_COMMAND_LINE tagged with the child's own process id, so a
// process that the child starts by other means does not take it for its own.
#include "win32/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "win32/file.h"
#include "win32/security.h"
#include "win32/sysroot.h"
#include "win32/waitable.h"

extern char** environ;

namespace fs = std::filesystem;

namespace tavrin::procs {
namespace {

constexpr char kCommandLineVariable[] = "TAVRIN_COMMAND_LINE";
constexpr int kPidDigits = 10;

// Children whose handles were all closed while they ran: reaped whenever a process is started or let go,
// so none stays a zombie for long.
struct Orphans {
  std::mutex lock;
  std::vector<pid_t> pids;
};

Orphans& OrphanList() {
  static auto* orphans = new Orphans;  // never destroyed
  return *orphans;
}

void ReapOrphans() {
  auto& orphans = OrphanList();
  std::lock_guard guard(orphans.lock);
  std::erase_if(orphans.pids, [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) != 0; });
}

DWORD ExitCodeOf(int status) {
  if (WIFEXITED(status)) return static_cast<DWORD>(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return 128 + static_cast<DWORD>(WTERMSIG(status));
  return 0;
}

class ProcessObject : public Waitable {
 public:
  ProcessObject(pid_t pid, int pidfd) : pid_(pid), pidfd_(pidfd) {}
  ~ProcessObject() override {
    if (!Reap()) {
      std::lock_guard guard(OrphanList().lock);
      OrphanList().pids.push_back(pid_);
    }
    if (pidfd_ >= 0) close(pidfd_);
    ReapOrphans();
  }

  pid_t pid() const { return pid_; }
  bool IsSignalled() override { return Reap(); }
  bool ChangesElsewhere() const override { return true; }
  void WaitForChange(uint32_t, std::chrono::milliseconds limit) override {
    pollfd fd{pidfd_, POLLIN, 0};
    poll(&fd, 1, static_cast<int>(std::min<long long>(limit.count(), 3600000)));
  }

  // True once the process has ended (and was reaped).
  bool Reap() {
    std::lock_guard guard(lock_);
    if (ended_) return true;
    int status = 0;
    pid_t got = waitpid(pid_, &status, WNOHANG);
    if (got == pid_) {
      ended_ = true;
      exitCode_ = terminated_ ? terminateCode_ : ExitCodeOf(status);
    } else if (got < 0 && errno == ECHILD) {
      ended_ = true;  // reaped by someone else; the code is lost
      exitCode_ = terminated_ ? terminateCode_ : 0;
    }
    return ended_;
  }
  DWORD ExitCode() {
    Reap();
    std::lock_guard guard(lock_);
    return ended_ ? exitCode_ : STILL_ACTIVE;
  }
  bool Terminate(UINT code) {
    std::lock_guard guard(lock_);
    if (ended_) return false;
    if (!terminated_) {
      terminated_ = true;
      terminateCode_ = code;
    }
    return kill(pid_, SIGKILL) == 0;
  }

 private:
  const pid_t pid_;
  const int pidfd_;
  std::mutex lock_;
  bool ended_ = false;
  bool terminated_ = false;
  DWORD terminateCode_ = 0;
  DWORD exitCode_ = STILL_ACTIVE;
};

// The process's main thread: ends with it.
class ProcessThreadObject : public Waitable {
 public:
  explicit ProcessThreadObject(std::shared_ptr<ProcessObject> process) : process_(std::move(process)) {}
  bool IsSignalled() override { return process_->IsSignalled(); }
  bool ChangesElsewhere() const override { return true; }
  void WaitForChange(uint32_t stamp, std::chrono::milliseconds limit) override {
    process_->WaitForChange(stamp, limit);
  }

 private:
  const std::shared_ptr<ProcessObject> process_;
};

// Windows command-line words: blanks separate, double quotes group, \" is a quote.
std::vector<std::string> SplitWords(const std::string& line, size_t* firstEnd = nullptr) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) break;
    std::string word;
    bool quoted = false;
    for (; i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t')); ++i) {
      if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '"') {
        word += '"';
        ++i;
      } else if (line[i] == '"') {
        quoted = !quoted;
      } else {
        word += line[i];
      }
    }
    if (words.empty() && firstEnd) *firstEnd = i;
    words.push_back(std::move(word));
  }
  return words;
}

bool IsFile(const fs::path& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

// The host path of the image, or empty.
fs::path FindImage(const std::string& name) {
  std::vector<std::string> candidates{name};
  if (fs::path(name).extension().empty()) candidates.push_back(name + ".exe");
  const bool bare = name.find_first_of("\\/:") == std::string::npos;
  for (const auto& candidate : candidates) {
    if (bare) {
      for (const char* dir : {"C:\\WINDOWS\\system32\\", "C:\\WINDOWS\\"})
        if (auto path = sysroot::MapPath(dir + candidate); IsFile(path)) return path;
    } else if (auto path = sysroot::MapPath(candidate); IsFile(path)) {
      return path;
    }
  }
  return {};
}

std::vector<std::string> ChildEnvironment(const void* block) {
  std::vector<std::string> env;
  if (block) {
    for (const char* p = static_cast<const char*>(block); *p; p += strlen(p) + 1) env.emplace_back(p);
  } else {
    for (char** p = environ; *p; ++p) env.emplace_back(*p);
  }
  const std::string prefix = std::string(kCommandLineVariable) + "=";
  std::erase_if(env, [&](const std::string& entry) { return entry.rfind(prefix, 0) == 0; });
  return env;
}

DWORD ErrorOfExec(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR: return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENOEXEC: return ERROR_BAD_EXE_FORMAT;
    case ENOMEM:
    case EAGAIN: return ERROR_NOT_ENOUGH_MEMORY;
    default: return ERROR_GEN_FAILURE;
  }
}

// Writes the decimal digits of `value` into the kPidDigits characters at `at`, zero-padded. Runs in the
// forked child: no allocation.
void WritePid(char* at, pid_t value) {
  for (int i = kPidDigits - 1; i >= 0; --i) {
    at[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

std::string QuotedIfNeeded(const std::string& word) {
  if (!word.empty() && word.find_first_of(" \t\"") == std::string::npos) return word;
  std::string out = "\"";
  for (char c : word) {
    if (c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string ComputeCommandLine() {
  if (const char* tagged = getenv(kCommandLineVariable)) {
    std::string text = tagged;
    if (text.size() > kPidDigits && text[kPidDigits] == ':' &&
        strtol(text.substr(0, kPidDigits).c_str(), nullptr, 10) == getpid())
      return text.substr(kPidDigits + 1);
  }
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string line;
  for (size_t start = 0; start < all.size();) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    if (!line.empty()) line += ' ';
    line += QuotedIfNeeded(all.substr(start, end - start));
    start = end + 1;
  }
  return line;
}

}  // namespace
}  // namespace tavrin::procs

BOOL CreateProcess(LPCSTR applicationName, LPSTR commandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                   BOOL, DWORD creationFlags, LPVOID environment, LPCSTR currentDirectory, LPSTARTUPINFO,
                   LPPROCESS_INFORMATION processInformation) {
  using namespace tavrin::procs;
  ReapOrphans();
  if ((!applicationName && !commandLine) || !processInformation) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (creationFlags & (CREATE_SUSPENDED | DEBUG_PROCESS)) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  const std::string line = commandLine ? commandLine : applicationName;
  size_t firstEnd = 0;
  std::vector<std::string> words = SplitWords(line, &firstEnd);
  std::string imageName;
  if (applicationName) {
    imageName = applicationName;
    if (!commandLine) words.clear();  // the line is only the image's name then
  } else if (!words.empty()) {
    imageName = words.front();
    words.erase(words.begin());
  }
  const fs::path image = imageName.empty() ? fs::path() : FindImage(imageName);
  if (image.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  fs::path directory;
  if (currentDirectory) {
    directory = tavrin::sysroot::MapPath(currentDirectory);
    std::error_code ec;
    if (!fs::is_directory(directory, ec)) {
      SetLastError(ERROR_DIRECTORY);
      return FALSE;
    }
  }

  // Everything the child needs is made before the fork: after it, only async-signal-safe calls.
  std::vector<std::string> args{image.string()};
  args.insert(args.end(), words.begin(), words.end());
  std::vector<std::string> env = ChildEnvironment(environment);
  env.push_back(std::string(kCommandLineVariable) + "=" + std::string(kPidDigits, '0') + ":" + line);
  std::vector<char*> argv, envp;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  for (auto& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  char* pidField = env.back().data() + strlen(kCommandLineVariable) + 1;
  const bool newGroup = (creationFlags & CREATE_NEW_PROCESS_GROUP) != 0;
  const char* chdirTo = directory.empty() ? nullptr : directory.c_str();

  int report[2];  // the child's exec error, if any; closed by a successful exec
  if (pipe2(report, O_CLOEXEC) != 0) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  pid_t pid = fork();
  if (pid == 0) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (newGroup) setpgid(0, 0);
    WritePid(pidField, getpid());
    int error = 0;
    if (chdirTo && chdir(chdirTo) != 0) {
      error = errno;
    } else {
      execve(argv[0], argv.data(), envp.data());
      error = errno;
    }
    ssize_t ignored = write(report[1], &error, sizeof error);
    (void)ignored;
    _exit(127);
  }
  close(report[1]);
  if (pid < 0) {
    close(report[0]);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  int childError = 0;
  ssize_t got;
  do {
    got = read(report[0], &childError, sizeof childError);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got == static_cast<ssize_t>(sizeof childError)) {
    waitpid(pid, nullptr, 0);
    SetLastError(ErrorOfExec(childError));
    return FALSE;
  }

  int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  auto process = std::make_shared<ProcessObject>(pid, pidfd);
  processInformation->hThread = tavrin::InsertHandle(std::make_shared<ProcessThreadObject>(process));
  processInformation->hProcess = tavrin::InsertHandle(process);
  processInformation->dwProcessId = static_cast<DWORD>(pid);
  processInformation->dwThreadId = static_cast<DWORD>(pid);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL GetExitCodeProcess(HANDLE handle, LPDWORD exitCode) {
  auto process = tavrin::LookupHandleAs<tavrin::procs::ProcessObject>(handle);
  if (!process || !exitCode) {
    SetLastError(process ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *exitCode = process->ExitCode();
  return TRUE;
}

DWORD GetProcessId(HANDLE handle) {
  auto process = tavrin::LookupHandleAs<tavrin::procs::ProcessObject>(handle);
  if (!process) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return static_cast<DWORD>(process->pid());
}

BOOL TerminateProcess(HANDLE handle, UINT exitCode) {
  if (handle == GetCurrentProcess()) {
    kill(getpid(), SIGKILL);  // ends here, as abruptly as from outside
    return FALSE;
  }
  auto process = tavrin::LookupHandleAs<tavrin::procs::ProcessObject>(handle);
  if (!process) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!process->Terminate(exitCode)) {
    SetLastError(ERROR_ACCESS_DENIED);  // it has ended already
    return FALSE;
  }
  return TRUE;
}

LPSTR GetCommandLine() {
  static std::string* line = new std::string(tavrin::procs::ComputeCommandLine());  // lives for the process
  return line->data();
}

DWORD GetEnvironmentVariable(LPCSTR name, LPSTR buffer, DWORD size) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string wanted = name;
  for (char& c : wanted) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  std::string value;
  bool found = false;
  if (wanted == "WINDIR" || wanted == "SYSTEMROOT") {
    char dir[MAX_PATH];
    UINT length = GetWindowsDirectory(dir, sizeof dir);
    value.assign(dir, length < sizeof dir ? length : 0);
    found = true;
  } else {
    for (char** p = environ; *p && !found; ++p) {
      const char* eq = strchr(*p, '=');
      if (!eq || static_cast<size_t>(eq - *p) != wanted.size()) continue;
      if (strncasecmp(*p, name, wanted.size()) == 0) {
        value = eq + 1;
        found = true;
      }
    }
  }
  if (!found) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  if (!buffer || size <= value.size()) return static_cast<DWORD>(value.size() + 1);
  memcpy(buffer, value.c_str(), value.size() + 1);
  return static_cast<DWORD>(value.size());
}
