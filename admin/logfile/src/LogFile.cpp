#include "admin/LogFile.h"

#include <atomic>
#include <cstring>

#include "win32/crt.h"
#include "win32/windows.h"

namespace {

std::atomic<CLogFile::LocalTimeSource> g_localTimeSource{nullptr};

std::tm LocalNow() {
  if (CLogFile::LocalTimeSource source = g_localTimeSource.load()) return source();
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

// Copies text into a field, cut to the field's size.
template <size_t N>
void CopyField(char (&field)[N], const char* text) {
  std::strncpy(field, text, N - 1);
  field[N - 1] = '\0';
}

}  // namespace

void CLogFile::SetLocalTimeSourceForTest(LocalTimeSource source) { g_localTimeSource = source; }

CLogFile::CLogFile() : m_bEnabled(FALSE), m_pFile(nullptr), m_szModuleName{}, m_szPath{} {}

CLogFile::~CLogFile() {
  if (m_pFile) std::fclose(m_pFile);
}

void CLogFile::Open(const char* moduleName, const char* path, BOOL truncate, BOOL enabled) {
  m_bEnabled = enabled;
  if (!m_bEnabled) return;
  if (path && *path) CopyField(m_szPath, path);
  if (moduleName && *moduleName) CopyField(m_szModuleName, moduleName);
  if (m_pFile) {  // opened again: the earlier file is not leaked
    std::fclose(m_pFile);
    m_pFile = nullptr;
  }
  if (truncate) {
    SetFileAttributes(m_szPath, FILE_ATTRIBUTE_NORMAL);
    DeleteFile(m_szPath);
  }
  m_pFile = tavrin::OpenCrtFile(m_szPath, "a+");
  if (!m_pFile) return;
  WriteHeader();
  WriteStartBanner();
}

void CLogFile::StartNewFile() {
  std::fclose(m_pFile);
  m_pFile = nullptr;
  SetFileAttributes(m_szPath, FILE_ATTRIBUTE_NORMAL);
  DeleteFile(m_szPath);
  m_pFile = tavrin::OpenCrtFile(m_szPath, "a+");
  if (!m_pFile) return;
  m_bStarting = true;
  WriteHeader();
  WriteStartBanner();
  m_bStarting = false;
}

void CLogFile::Write(const char* text) {
  if (!m_bEnabled || !m_pFile) return;
  if (m_dwMaxSize != 0 && !m_bStarting) {
    // Each "\n" takes two bytes in the file.
    size_t bytes = 0;
    for (const char* c = text; *c; ++c) bytes += *c == '\n' ? 2 : 1;
    const long size = std::ftell(m_pFile);
    if (size > 0 && static_cast<unsigned long>(size) + bytes > m_dwMaxSize) {
      StartNewFile();
      if (!m_pFile) return;
    }
  }
  // With buffered output a failure may show only at the flush: both count as a failed write.
  bool failed = std::fprintf(m_pFile, "%s", text) < 0;
  failed = std::fflush(m_pFile) != 0 || failed;
  if (failed) {
    std::fclose(m_pFile);
    m_pFile = nullptr;
  }
}

void CLogFile::WriteHeader() {
  const std::tm now = LocalNow();
  char date[32], time[32], block[sizeof m_szModuleName + 128];
  std::snprintf(date, sizeof date, "%d-%02d-%02d", now.tm_year + 1900, now.tm_mon + 1, now.tm_mday);
  std::snprintf(time, sizeof time, "%02d:%02d:%02d", now.tm_hour, now.tm_min, now.tm_sec);
  std::snprintf(block, sizeof block, "%s:%s\n%s:%s\n%s:%s", "Module Name", m_szModuleName, "Date", date, "Time",
                time);
  Write("-------------------\n");
  Write(block);
  Write("\n-------------------\n");
}

void CLogFile::WriteStartBanner() {
  char banner[sizeof m_szModuleName + 64];
  std::snprintf(banner, sizeof banner, "\n--------- Start of %s---------\n\n", m_szModuleName);
  Write(banner);
}

void CLogFile::Close() {
  if (m_bEnabled) {
    char banner[sizeof m_szModuleName + 64];
    std::snprintf(banner, sizeof banner, "\n--------- End of %s---------\n", m_szModuleName);
    Write(banner);
  }
  if (m_pFile) {
    std::fclose(m_pFile);
    m_pFile = nullptr;
  }
}
