// The print spooler's client calls that the programs use: open a printer by name, read its level-2
// information (the number of queued jobs above all) and close it. Printers and their queues live in the
// sysroot (C:\WINDOWS\System32\spool\PRINTERS, one small file per printer holding its job count), so that
// tests, the simulator's scenarios and demo scripts can add printers and queue or finish jobs.
#pragma once
#include <string>

#include "win32/types.h"

struct PRINTER_DEFAULTS {
  LPSTR pDatatype;
  void* pDevMode;
  DWORD DesiredAccess;
};
using LPPRINTER_DEFAULTS = PRINTER_DEFAULTS*;

struct PRINTER_INFO_2 {
  LPSTR pServerName;
  LPSTR pPrinterName;
  LPSTR pShareName;
  LPSTR pPortName;
  LPSTR pDriverName;
  LPSTR pComment;
  LPSTR pLocation;
  void* pDevMode;
  LPSTR pSepFile;
  LPSTR pPrintProcessor;
  LPSTR pDatatype;
  LPSTR pParameters;
  void* pSecurityDescriptor;
  DWORD Attributes;
  DWORD Priority;
  DWORD DefaultPriority;
  DWORD StartTime;
  DWORD UntilTime;
  DWORD Status;
  DWORD cJobs;
  DWORD AveragePPM;
};
using LPPRINTER_INFO_2 = PRINTER_INFO_2*;

constexpr DWORD ERROR_INVALID_PRINTER_NAME = 1801;
constexpr DWORD ERROR_INVALID_LEVEL = 124;

// Opens the printer of that name (exact spelling; the name's letter case matters as the file system's
// does). FALSE with ERROR_INVALID_PRINTER_NAME when no such printer exists.
BOOL OpenPrinter(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTS pDefault);
// Level 2 only. With a buffer too small (or none) FALSE, ERROR_INSUFFICIENT_BUFFER and *pcbNeeded set;
// the strings follow the record in the buffer. FALSE with ERROR_INVALID_PRINTER_NAME once the printer
// was deleted.
BOOL GetPrinter(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded);
BOOL ClosePrinter(HANDLE hPrinter);

// The spooler's side, for tests and scripts. Safe across threads and processes of one sysroot.
namespace tavrin::spool {

// The file that holds the printer's job count (decimal text).
std::string QueueFile(const std::string& printerName);
// Installs a printer with an empty queue (an existing one keeps its queue); false on a file error.
bool AddPrinter(const std::string& printerName);
bool DeletePrinter(const std::string& printerName);
// Adds one job / finishes one job (never below 0) / sets the count; false when the printer is unknown.
bool AddJob(const std::string& printerName);
bool RemoveJob(const std::string& printerName);
bool SetJobs(const std::string& printerName, DWORD jobs);
// The job count, or -1 when the printer is unknown.
long GetJobs(const std::string& printerName);

}  // namespace tavrin::spool
