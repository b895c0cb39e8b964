// The trace convention of TavrinAdmin: a caller tests the trace level before it builds a line.
// Informational lines (entry and exit lines, progress, values) are written when AppTraceLevel is below 2,
// error lines when it is below 4; a few lines are written at every level. Every line goes through
// CTavrinAdminApp::WriteLog and ends with the "\n" its caller put there. Without an application object
// (or before its log is open) nothing is written.
#pragma once
#include "win32/types.h"

BOOL IsTraceInfoOn();
BOOL IsTraceErrorOn();
void TraceInfo(const char* format, ...) __attribute__((format(printf, 1, 2)));
void TraceError(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Written at every trace level.
void TraceAlways(const char* format, ...) __attribute__((format(printf, 1, 2)));
