// The TFTP server's reading of a request datagram, and the name check that follows it.
#include <cstddef>
#include <cstdint>

#include "tftpserver/TftpServer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (auto request = tftp::ParseRequest(data, size)) tftp::IsSafeFileName(request->file);
  return 0;
}
