// A private Xvfb server (1024x768x24, no TCP) for the tests that drive the X11 display.
#pragma once
#include <sys/types.h>

#include <string>

namespace tavrin::test {

class XvfbServer {
 public:
  XvfbServer() = default;
  ~XvfbServer() { Stop(); }
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  // The Xvfb program, or "" when it is not installed.
  static std::string Find();
  // Starts `program` on a display number the server itself picks free, and waits until it accepts
  // connections; false when it could not be spawned or did not come up within 20 s.
  bool Start(const std::string& program);
  // SIGTERM and reaping; nothing when it is not running.
  void Stop();
  // The display's name, ":N".
  const std::string& name() const { return name_; }

 private:
  pid_t pid_ = 0;
  std::string name_;
};

}  // namespace tavrin::test
