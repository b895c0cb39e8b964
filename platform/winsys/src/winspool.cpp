#include "win32/winspool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "win32/handle.h"
#include "win32/sync.h"
#include "win32/sysroot.h"

namespace fs = std::filesystem;

namespace tavrin::spool {
namespace {

fs::path QueueDir() {
  fs::path dir = sysroot::WindowsDir() / "System32" / "spool" / "PRINTERS";
  std::error_code ec;
  fs::create_directories(dir, ec);
  return dir;
}

// Printer names may hold any character ("\\server\share" for a shared printer); the file name keeps
// letters, digits and a few safe signs and writes every other byte as %XX.
std::string FileNameOf(const std::string& printerName) {
  std::string out;
  for (unsigned char c : printerName) {
    if (std::isalnum(c) || c == ' ' || c == '-' || c == '_' || c == '.' || c == '(' || c == ')') {
      out += static_cast<char>(c);
    } else {
      char escaped[4];
      snprintf(escaped, sizeof escaped, "%%%02X", c);
      out += escaped;
    }
  }
  return out + ".jobs";
}

// An open queue file under an flock, closed on destruction.
class LockedQueue {
 public:
  LockedQueue(const std::string& printerName, int flags, int lockKind) {
    if (printerName.empty()) return;
    fd_ = open(QueueFile(printerName).c_str(), flags | O_CLOEXEC, 0644);
    if (fd_ >= 0 && flock(fd_, lockKind) != 0) Close();
  }
  ~LockedQueue() { Close(); }
  LockedQueue(const LockedQueue&) = delete;
  LockedQueue& operator=(const LockedQueue&) = delete;

  bool ok() const { return fd_ >= 0; }
  long Read() const {
    char text[32] = {};
    ssize_t n = pread(fd_, text, sizeof text - 1, 0);
    return n > 0 ? strtol(text, nullptr, 10) : 0;
  }
  bool Write(long jobs) {
    char text[32];
    int n = snprintf(text, sizeof text, "%ld\n", jobs < 0 ? 0 : jobs);
    return ftruncate(fd_, 0) == 0 && pwrite(fd_, text, static_cast<size_t>(n), 0) == n;
  }

 private:
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  int fd_ = -1;
};

bool Update(const std::string& printerName, long (*change)(long, long), long amount) {
  LockedQueue queue(printerName, O_RDWR, LOCK_EX);
  return queue.ok() && queue.Write(change(queue.Read(), amount));
}

}  // namespace

std::string QueueFile(const std::string& printerName) { return (QueueDir() / FileNameOf(printerName)).string(); }

bool AddPrinter(const std::string& printerName) {
  LockedQueue queue(printerName, O_RDWR | O_CREAT, LOCK_EX);
  return queue.ok() && queue.Write(queue.Read());
}

bool DeletePrinter(const std::string& printerName) {
  return !printerName.empty() && unlink(QueueFile(printerName).c_str()) == 0;
}

bool AddJob(const std::string& printerName) {
  return Update(printerName, [](long jobs, long) { return jobs + 1; }, 0);
}

bool RemoveJob(const std::string& printerName) {
  return Update(printerName, [](long jobs, long) { return jobs > 0 ? jobs - 1 : 0; }, 0);
}

bool SetJobs(const std::string& printerName, DWORD jobs) {
  return Update(printerName, [](long, long to) { return to; }, static_cast<long>(jobs));
}

long GetJobs(const std::string& printerName) {
  LockedQueue queue(printerName, O_RDONLY, LOCK_SH);
  return queue.ok() ? queue.Read() : -1;
}

}  // namespace tavrin::spool

namespace {

class PrinterObject : public tavrin::KernelObject {
 public:
  explicit PrinterObject(std::string name) : name(std::move(name)) {}
  const std::string name;
};

}  // namespace

BOOL OpenPrinter(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTS) {
  if (phPrinter == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *phPrinter = nullptr;
  if (pPrinterName == nullptr || tavrin::spool::GetJobs(pPrinterName) < 0) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  *phPrinter = tavrin::InsertHandle(std::make_shared<PrinterObject>(pPrinterName));
  return TRUE;
}

BOOL GetPrinter(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded) {
  auto printer = tavrin::LookupHandleAs<PrinterObject>(hPrinter);
  if (!printer) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (Level != 2) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  long jobs = tavrin::spool::GetJobs(printer->name);
  if (jobs < 0) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  const DWORD needed = static_cast<DWORD>(sizeof(PRINTER_INFO_2) + printer->name.size() + 1);
  if (pcbNeeded) *pcbNeeded = needed;
  if (pPrinter == nullptr || cbBuf < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  PRINTER_INFO_2 info{};
  char* name = reinterpret_cast<char*>(pPrinter) + sizeof(PRINTER_INFO_2);
  memcpy(name, printer->name.c_str(), printer->name.size() + 1);
  info.pPrinterName = name;
  info.cJobs = static_cast<DWORD>(jobs);
  memcpy(pPrinter, &info, sizeof info);
  return TRUE;
}

BOOL ClosePrinter(HANDLE hPrinter) {
  if (!tavrin::LookupHandleAs<PrinterObject>(hPrinter)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return CloseHandle(hPrinter);
}
