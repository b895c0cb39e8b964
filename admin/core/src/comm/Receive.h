// The receive loop shared by the command thread and the product-string thread.
#pragma once
#include "admin/comm/CommSettings.h"
#include "win32/types.h"
#include "win32/winsock.h"

namespace tavrin::comm {

// The trace texts of one caller, each with one %d for the socket error code.
struct ReceiveTexts {
  const char* timedOut;
  const char* socketError;
  const char* connectionClosed;
};

// True when the flag is set and holds 1.
bool IsCancelled(DWORD* cancel);
// Sends all the bytes; false on a socket error.
bool SendAll(SOCKET socket, const char* data, DWORD length);
// Receives until "</RSP>" into a buffer that starts at 1024 bytes and grows by 1024 when full, up to
// settings.maxResponseSize, within settings.commandResponseTimeoutMs in all. Returns the result code;
// *response (malloc, the caller frees it, also after a failure) and *received hold what arrived. `cancel`
// (set to 1) and `stopped` (nonzero) end it early; either may be null.
DWORD ReceiveResponse(SOCKET socket, const ServerCommSettings& settings, DWORD* cancel,
                      const ReceiveTexts& texts, char** response, DWORD* received,
                      const volatile LONG* stopped = nullptr);

}  // namespace tavrin::comm
