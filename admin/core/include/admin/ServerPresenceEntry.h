// ServerPresenceEntry: one server heard on the device-list broadcast port, as the document's server
// presence list keeps it. A plain record, copied in and out whole under the list's lock.
#pragma once
#include "win32/types.h"

// PresenceCount: 100 new (arrival not yet reported), 1..99 heard since the last check, 0 silent.
constexpr DWORD SERVER_PRESENCE_NEW = 100;

struct ServerPresenceEntry {
  char ServerIp[28];    // sender address as dotted text; the list's key
  DWORD ServerId;       // from the first datagram heard from this address
  DWORD PresenceCount;  // see SERVER_PRESENCE_NEW
  DWORD Active;         // 1 until a departure is queued for the server
  DWORD RequestStatus;  // 0 at creation; ARRM_STATUS_PENDING while a request is queued; then the answer's bits
};
