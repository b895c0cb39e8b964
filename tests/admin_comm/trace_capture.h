// The trace lines the program writes while a test runs, read back from its trace log.
#pragma once
#include <memory>
#include <string>

class CTavrinAdminApp;

// Needs the test's sysroot. Makes the program's application object (unless one exists), sets the trace
// level so that every line is written, and opens the trace log.
class TraceCapture {
 public:
  TraceCapture();
  ~TraceCapture();
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  // Everything written since the capture began, line feeds as "\n".
  std::string Text();
  bool Contains(const std::string& line) { return Text().find(line) != std::string::npos; }

 private:
  std::unique_ptr<CTavrinAdminApp> app_;
  size_t start_ = 0;
};
