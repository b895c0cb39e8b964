// The program that the process tests install into the sysroot and start with CreateProcess. Its first
// word chooses what it does:
//   write-cmdline FILE      writes GetCommandLine() into FILE (a Windows-form path)
//   exit CODE               exits with CODE
//   wait-event NAME         waits for the named event, then exits 0
//   group FILE NAME         writes "<pid> <process group>" into FILE, then waits for the event NAME
//   hold-mutex NAME READY   takes the named mutex, sets the event READY and sleeps until killed
//   map-byte NAME OFFSET    exits with the byte at OFFSET of the named mapping (read-only view)
//   map-write-readonly NAME writes through a read-only view of the named mapping (which must fault)
//   plain-child FILE        starts "write-cmdline FILE" without CreateProcess and waits for it
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "win32/windows.h"

extern char** environ;

namespace {

int WriteText(const char* file, const std::string& text) {
  HANDLE out = CreateFile(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return 3;
  DWORD written = 0;
  WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(out);
  return written == text.size() ? 0 : 3;
}

int WaitEvent(const char* name) {
  HANDLE event = CreateEvent(nullptr, TRUE, FALSE, name);
  return WaitForSingleObject(event, 20000) == WAIT_OBJECT_0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string verb = argc > 1 ? argv[1] : "";
  if (verb == "write-cmdline" && argc > 2) return WriteText(argv[2], GetCommandLine());
  if (verb == "exit" && argc > 2) return atoi(argv[2]);
  if (verb == "wait-event" && argc > 2) return WaitEvent(argv[2]);
  if (verb == "group" && argc > 3) {
    if (WriteText(argv[2], std::to_string(getpid()) + " " + std::to_string(getpgrp())) != 0) return 3;
    return WaitEvent(argv[3]);
  }
  if (verb == "hold-mutex" && argc > 3) {
    HANDLE mutex = CreateMutex(nullptr, FALSE, argv[2]);
    if (!mutex || WaitForSingleObject(mutex, 5000) != WAIT_OBJECT_0) return 3;
    HANDLE ready = OpenEvent(EVENT_MODIFY_STATE, FALSE, argv[3]);
    if (!ready || !SetEvent(ready)) return 3;
    for (;;) pause();
  }
  if (verb == "map-byte" && argc > 3) {
    HANDLE mapping = OpenFileMapping(FILE_MAP_READ, FALSE, argv[2]);
    auto* view = mapping ? static_cast<const unsigned char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)) : nullptr;
    return view ? view[atoi(argv[3])] : 255;
  }
  if (verb == "map-write-readonly" && argc > 2) {
    HANDLE mapping = OpenFileMapping(FILE_MAP_READ, FALSE, argv[2]);
    auto* view = mapping ? static_cast<volatile unsigned char*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)) : nullptr;
    if (!view) return 3;
    signal(SIGSEGV, SIG_DFL);  // no sanitizer's handler: the fault ends the process as it would
    view[0] = 0x5A;  // faults
    return 0;
  }
  if (verb == "plain-child" && argc > 2) {
    char* args[] = {argv[0], const_cast<char*>("write-cmdline"), argv[2], nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, args, environ) != 0) return 3;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 3;
  }
  fprintf(stderr, "win32_procs_peer: unknown command\n");
  return 2;
}
