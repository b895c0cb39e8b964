// Bytes as they may arrive on a kernel-host socket, from either side: a stream of frames cut anywhere, with
// any length field. Every frame read must be whole and within the bound, and every payload layout the two
// sides read must hold on any bytes.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "win32/devices/kernel_link.h"

namespace {

namespace link = tavrin::kernel_link;
using link::Message;

void ReadPayload(Message type, const std::vector<uint8_t>& payload) {
  link::Reader r(payload);
  switch (type) {
    case Message::Enumerate: r.Guid(); r.U8(); break;
    case Message::Interfaces: {
      uint32_t n = r.U32();
      for (uint32_t i = 0; i < n && !r.failed(); ++i) {
        r.U8();
        r.String();
      }
      break;
    }
    case Message::Open: r.U32(); r.String(); break;
    case Message::Ioctl: r.U32(); r.U32(); r.Rest(); break;
    case Message::IoctlDone: r.U32(); r.U64(); r.Rest(); break;
    case Message::ReferenceEvent: r.U64(); r.U64(); break;
    case Message::SetEvent: r.U64(); r.U8(); break;
    case Message::ReleaseEvent: r.U64(); break;
    case Message::Subscribe: r.U8(); r.Guid(); break;
    case Message::InterfaceChange: r.U8(); r.Guid(); r.String(); break;
    case Message::ReadMemory: r.U64(); r.U32(); break;
    case Message::MemoryAnswer: r.U32(); r.Rest(); break;
    case Message::SharedBuffer: r.U64(); break;
    case Message::IoctlShared: r.U32(); r.U32(); r.U32(); break;
    default: r.U32(); break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return 0;
  int buffer = static_cast<int>(size + 4096);
  setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
  setsockopt(pair[1], SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
  size_t sent = 0;
  while (sent < size) {
    ssize_t n = send(pair[0], data + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  close(pair[0]);
  size_t consumed = 0;
  Message type;
  std::vector<uint8_t> payload;
  while (link::Receive(pair[1], &type, &payload)) {
    if (payload.size() > link::kMaxPayload) __builtin_trap();
    consumed += 5 + payload.size();
    if (consumed > sent) __builtin_trap();
    // The frame is the bytes as they came.
    if (!payload.empty() && memcmp(payload.data(), data + consumed - payload.size(), payload.size()) != 0)
      __builtin_trap();
    ReadPayload(type, payload);
  }
  close(pair[1]);
  return 0;
}
