// The link between user-mode programs and the kernel host: one Unix stream socket per enumeration, per open
// device handle and per notification registration, at <sysroot>/run/kernel-host.sock. Messages are frames
// of a u32 payload length, a u8 type and the payload, little-endian throughout.
//
//   enumerate:  client Enumerate{guid, u8 presentOnly} -> host Interfaces{u32 n, n x {u8 enabled, string}}
//   open:       client Open{u32 access, string path} -> host Opened{i32 ntstatus}; the socket is the handle
//   ioctl:      client Ioctl{u32 code, u32 outLength, bytes in} -> host IoctlDone{i32, u64 info, bytes out}
//   events:     while handling a request the host may ask ReferenceEvent{u64 ref, u64 handle} -> client
//               EventAnswer{i32 ntstatus}; later SetEvent{u64 ref, u8 set} and ReleaseEvent{u64 ref}
//   shared:     client SharedBuffer{u64 size} with the descriptor of sealed shared memory -> host
//               SharedBufferTaken{i32 ntstatus}; then IoctlShared{u32 code, u32 outLength, u32 inLength},
//               the input at the start of that memory -> host IoctlDone{i32, u64 info, u32 returned}, the
//               output written there (a transfer's data crosses no socket)
//   memory:     while handling a request the host may ask ReadMemory{u64 address, u32 length} -> client
//               MemoryAnswer{i32 ntstatus, bytes} (a driver reading a buffer the caller points it at)
//   notices:    client Subscribe{u8 allClasses, guid} -> host Subscribed{i32}; then InterfaceChange{u8
//               arrival, guid, string path} whenever an interface of the class is enabled or disabled
// Strings are a u32 length and the bytes.
#pragma once
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <span>
#include <vector>

#include "wincommon/guid.h"

namespace tavrin::kernel_link {

enum class Message : uint8_t {
  Enumerate = 1,
  Interfaces,
  Open,
  Opened,
  Ioctl,
  IoctlDone,
  ReferenceEvent,
  EventAnswer,
  SetEvent,
  ReleaseEvent,
  Subscribe,
  Subscribed,
  InterfaceChange,
  ReadMemory,
  MemoryAnswer,
  Closed,  // the kernel has run the close of a file: the user's CloseHandle may return
  ListNodes,     // client: {} -> host Nodes{u32 n, n x {string instance, u32 ids, ids x string, string service, u8 started}}
  Nodes,
  ReloadNodes,   // client: {} -> host Reloaded{u32 0 done, 1 a removal waits for the next start}
  Reloaded,
  SharedBuffer,
  SharedBufferTaken,
  IoctlShared,
};

constexpr uint32_t kMaxPayload = 1u << 20;

// <sysroot>/run/kernel-host.sock
std::filesystem::path SocketPath();

class Writer {
 public:
  Writer& U8(uint8_t v);
  Writer& U32(uint32_t v);
  Writer& U64(uint64_t v);
  Writer& Guid(const GUID& g);
  Writer& String(const std::string& s);
  Writer& Bytes(const void* data, size_t size);
  const std::vector<uint8_t>& Data() const { return data_; }

 private:
  std::vector<uint8_t> data_;
};

// Reads fields from a payload; a read past the end sets failed() and yields zeros.
class Reader {
 public:
  explicit Reader(const std::vector<uint8_t>& data) : data_(data) {}
  uint8_t U8();
  uint32_t U32();
  uint64_t U64();
  GUID Guid();
  std::string String();
  std::vector<uint8_t> Rest();
  std::span<const uint8_t> RestInPlace();  // the same without a copy, valid as long as the payload
  bool failed() const { return failed_; }

 private:
  bool Take(void* out, size_t size);
  const std::vector<uint8_t>& data_;
  size_t at_ = 0;
  bool failed_ = false;
};

// How often a device-notification registration whose kernel host went away tries to reach it again
// (1 s unless set).
void SetReconnectInterval(std::chrono::milliseconds interval);
std::chrono::milliseconds ReconnectInterval();

// Connects to the kernel host of the current sysroot; -1 (errno set) when none listens.
int Connect();
// Whole frames; false on a closed socket, an error or an oversized frame. A payload may end with `tail`,
// bytes sent from where they are (a transfer's data is not copied into the frame).
bool Send(int fd, Message type, const Writer& payload, std::span<const uint8_t> tail = {});
bool Receive(int fd, Message* type, std::vector<uint8_t>* payload);
// The same with a descriptor that travels with the frame (-1: none); a received one is the caller's to close.
bool SendWithDescriptor(int fd, Message type, const Writer& payload, int descriptor);
bool ReceiveWithDescriptor(int fd, Message* type, std::vector<uint8_t>* payload, int* descriptor);

}  // namespace tavrin::kernel_link
