// The kernel-host program run as a process of its own for a test's sysroot.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

namespace tavrin::test {

class KernelHostProcess {
 public:
  // Starts `program` (the built kernel-host) with "--sysroot <sysroot>" and the options; killed when the
  // object goes. Without options the host runs the stand-in control device, which connects nothing.
  KernelHostProcess(const std::string& program, const std::string& sysroot,
                    const std::vector<std::string>& options = {"--fake-control-device"});
  ~KernelHostProcess();
  KernelHostProcess(const KernelHostProcess&) = delete;
  KernelHostProcess& operator=(const KernelHostProcess&) = delete;

  // Waits for the program's ready line; false on time-out, early exit or another first line.
  bool WaitReady(int milliseconds);
  // SIGKILL and reaping; nothing when it has already gone.
  void Kill();
  // SIGTERM and the exit status (-1 when it did not end normally). With a limit, one that has not ended
  // by then is killed, and the answer is -2.
  int Terminate(int limitMs = -1);
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
};

}  // namespace tavrin::test
