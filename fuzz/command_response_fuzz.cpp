// A command-protocol response as it may arrive from the network, read by every reader of the client.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "admin/comm/ResponseReader.h"
#include "admin/comm/ServerComm.h"
#include "zarnet/command.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exact-size heap copy, so that a read past the received bytes is caught.
  char* buffer = static_cast<char*>(malloc(size > 0 ? size : 1));
  if (size > 0) memcpy(buffer, data, size);
  const DWORD length = static_cast<DWORD>(size);
  GetRspCode(buffer, length);
  GetSCmdCode(buffer, length);
  GetStatusCode(buffer, length);
  IsRspComplete(buffer, length);
  const char* payload = nullptr;
  DWORD payloadLength = 0;
  if (GetDataFromRspBuff(buffer, length, &payload, &payloadLength)) {
    if (payload < buffer || payload + payloadLength > buffer + size) abort();
    zarnet::DecodeProductString(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(payload), payloadLength));
  }
  ProcessIProdStrDescRsp(buffer, length);
  free(buffer);
  return 0;
}
