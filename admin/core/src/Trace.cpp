#include "admin/Trace.h"

#include <cstdarg>

#include "admin/TavrinAdminApp.h"

namespace {

void WriteFormatted(const char* format, va_list args) {
  CTavrinAdminApp* app = GetAdminApp();
  if (!app) return;
  CString line;
  line.FormatV(format, args);  // built before the log lock is taken
  app->WriteLog(line);
}

}  // namespace

BOOL IsTraceInfoOn() {
  CTavrinAdminApp* app = GetAdminApp();
  return app && app->IsTraceInfoOn();
}

BOOL IsTraceErrorOn() {
  CTavrinAdminApp* app = GetAdminApp();
  return app && app->IsTraceErrorOn();
}

void TraceInfo(const char* format, ...) {
  if (!IsTraceInfoOn()) return;
  va_list args;
  va_start(args, format);
  WriteFormatted(format, args);
  va_end(args);
}

void TraceError(const char* format, ...) {
  if (!IsTraceErrorOn()) return;
  va_list args;
  va_start(args, format);
  WriteFormatted(format, args);
  va_end(args);
}

void TraceAlways(const char* format, ...) {
  va_list args;
  va_start(args, format);
  WriteFormatted(format, args);
  va_end(args);
}
