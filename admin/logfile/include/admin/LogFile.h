// CLogFile: the trace log file of the programs. A header block (module name, date, time) and a start
// banner at open, the callers' texts as they give them, an end banner at close; every write is flushed.
// The file is written in text mode, so each "\n" is stored as CR LF.
#pragma once
#include <cstdio>
#include <ctime>

#include "win32/types.h"

class CLogFile {
 public:
  CLogFile();
  ~CLogFile();  // closes the file if it is still open (no end banner)
  CLogFile(const CLogFile&) = delete;
  CLogFile& operator=(const CLogFile&) = delete;

  // With enabled FALSE nothing is opened and every later call does nothing. Otherwise keeps the
  // module name and path (when given and not empty, cut to their fields), deletes the file first when
  // truncate (read-only or not), opens it for appending and writes the header block and start banner.
  // A file that cannot be opened leaves the object without a file.
  void Open(const char* moduleName, const char* path, BOOL truncate, BOOL enabled);
  // Writes the text as it is and flushes; a failed write closes the file for good. A text that would take
  // the file past its size bound starts a new file first, as a program start does (header block and start
  // banner), so the file never grows without end.
  void Write(const char* text);
  // The size bound in bytes (0: none). Default kDefaultMaxSize.
  void SetMaxSize(DWORD bytes) { m_dwMaxSize = bytes; }
  static constexpr DWORD kDefaultMaxSize = 16 * 1024 * 1024;
  // The end banner (when enabled), then the file is closed. A second Close does nothing.
  void Close();

  void WriteHeader();
  void WriteStartBanner();

  BOOL IsOpen() const { return m_pFile != nullptr; }
  const char* GetPath() const { return m_szPath; }
  const char* GetModuleName() const { return m_szModuleName; }

  // The local time of the header block; tests freeze it. Null restores the system clock.
  using LocalTimeSource = std::tm (*)();
  static void SetLocalTimeSourceForTest(LocalTimeSource source);

 private:
  void StartNewFile();

  DWORD m_dwMaxSize = kDefaultMaxSize;
  bool m_bStarting = false;  // the header of a new file is being written
  BOOL m_bEnabled;
  FILE* m_pFile;
  char m_szModuleName[260];
  char m_szPath[1024];
};
