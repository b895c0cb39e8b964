// TftpServer.exe: serves the files of the folder given as "TFTP_ROOT=<folder>" over TFTP until its
// shut-down event is set. The event is created last: while it exists, the lock and the table do too.
#include <cstdio>

#include "tftpserver/TftpServer.h"
#include "win32/process.h"
#include "win32/sync.h"

int main() {
  auto options = tftp::OptionsFromCommandLine(GetCommandLine());
  if (!options) {
    fprintf(stderr, "TftpServer: usage: TftpServer.exe TFTP_ROOT=<folder>\n");
    return 2;
  }
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return 1;
  tftp::Server server;
  std::string error;
  if (!server.Start(*options, &error)) {
    fprintf(stderr, "TftpServer: %s\n", error.c_str());
    WSACleanup();
    return 1;
  }
  HANDLE shutDown = CreateEvent(nullptr, TRUE, FALSE, tftp::kShutDownEventName);
  if (!shutDown) {
    fprintf(stderr, "TftpServer: CreateEvent %u\n", static_cast<unsigned>(GetLastError()));
    server.Stop();
    WSACleanup();
    return 1;
  }
  // A handle someone else held may still carry the signal meant for a server that has gone.
  if (GetLastError() == ERROR_ALREADY_EXISTS) ResetEvent(shutDown);
  WaitForSingleObject(shutDown, INFINITE);
  server.Stop();
  CloseHandle(shutDown);
  WSACleanup();
  return 0;
}
