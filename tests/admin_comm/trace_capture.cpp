#include "trace_capture.h"

#include <fstream>
#include <sstream>

#include "admin/TavrinAdminApp.h"
#include "win32/sysroot.h"
#include "win32/user.h"

namespace {

std::string ReadLog() {
  std::ifstream in(tavrin::sysroot::WindowsDir() / "TavrinAdmin.log", std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  std::string text;
  for (char c : bytes.str()) {
    if (c != '\r') text += c;  // the log is written in text mode
  }
  return text;
}

}  // namespace

TraceCapture::TraceCapture() {
  CTavrinAdminApp* app = GetAdminApp();
  if (app == nullptr) {
    app_ = std::make_unique<CTavrinAdminApp>();
    app = app_.get();
    // A fresh sysroot has no installation: the start-up notice is answered here, not shown.
    tavrin::SetMessageBoxSink([](const std::string&, const std::string&, UINT) { return IDOK; });
    app->InitLogAndParameters();
    tavrin::SetMessageBoxSink({});
  }
  app->AppTraceLevel = 0;
  start_ = ReadLog().size();
}

TraceCapture::~TraceCapture() = default;

std::string TraceCapture::Text() {
  std::string text = ReadLog();
  return text.size() >= start_ ? text.substr(start_) : text;
}
