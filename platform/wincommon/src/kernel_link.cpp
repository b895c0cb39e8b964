#include "wincommon/kernel_link.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <span>

#include "base/local_socket.h"
#include "base/sysroot.h"

namespace tavrin::kernel_link {

std::filesystem::path SocketPath() { return base::sysroot::RunDir() / "kernel-host.sock"; }

Writer& Writer::U8(uint8_t v) { return Bytes(&v, 1); }
Writer& Writer::U32(uint32_t v) {
  uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  return Bytes(b, 4);
}
Writer& Writer::U64(uint64_t v) {
  U32(static_cast<uint32_t>(v));
  return U32(static_cast<uint32_t>(v >> 32));
}
Writer& Writer::Guid(const GUID& g) {
  U32(g.Data1);
  U8(uint8_t(g.Data2)).U8(uint8_t(g.Data2 >> 8));
  U8(uint8_t(g.Data3)).U8(uint8_t(g.Data3 >> 8));
  return Bytes(g.Data4, 8);
}
Writer& Writer::String(const std::string& s) {
  U32(static_cast<uint32_t>(s.size()));
  return Bytes(s.data(), s.size());
}
Writer& Writer::Bytes(const void* data, size_t size) {
  auto* p = static_cast<const uint8_t*>(data);
  data_.insert(data_.end(), p, p + size);
  return *this;
}

bool Reader::Take(void* out, size_t size) {
  if (failed_ || data_.size() - at_ < size) {
    failed_ = true;
    std::memset(out, 0, size);
    return false;
  }
  std::memcpy(out, data_.data() + at_, size);
  at_ += size;
  return true;
}
uint8_t Reader::U8() {
  uint8_t v;
  Take(&v, 1);
  return v;
}
uint32_t Reader::U32() {
  uint8_t b[4];
  Take(b, 4);
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}
uint64_t Reader::U64() {
  uint64_t low = U32();
  return low | uint64_t(U32()) << 32;
}
GUID Reader::Guid() {
  GUID g{};
  g.Data1 = U32();
  g.Data2 = static_cast<WORD>(U8() | U8() << 8);
  g.Data3 = static_cast<WORD>(U8() | U8() << 8);
  Take(g.Data4, 8);
  return g;
}
std::string Reader::String() {
  uint32_t size = U32();
  if (failed_ || data_.size() - at_ < size) {
    failed_ = true;
    return {};
  }
  std::string s(reinterpret_cast<const char*>(data_.data() + at_), size);
  at_ += size;
  return s;
}
std::span<const uint8_t> Reader::RestInPlace() {
  std::span<const uint8_t> rest(data_.data() + at_, data_.size() - at_);
  at_ = data_.size();
  return rest;
}
std::vector<uint8_t> Reader::Rest() {
  std::vector<uint8_t> rest(data_.begin() + static_cast<ptrdiff_t>(at_), data_.end());
  at_ = data_.size();
  return rest;
}

int Connect() { return base::local::Connect(base::local::Address::File(SocketPath())).Release(); }

namespace {

bool SendFrame(int fd, Message type, const Writer& payload, std::span<const uint8_t> tail, int descriptor) {
  const auto& data = payload.Data();
  const size_t size = data.size() + tail.size();
  if (size > kMaxPayload) return false;
  uint8_t head[5] = {uint8_t(size), uint8_t(size >> 8), uint8_t(size >> 16), uint8_t(size >> 24), static_cast<uint8_t>(type)};
  iovec parts[3] = {{head, sizeof head},
                    {const_cast<uint8_t*>(data.data()), data.size()},
                    {const_cast<uint8_t*>(tail.data()), tail.size()}};
  return base::local::SendAllParts(fd, parts, 3, descriptor);
}

// The descriptor, if any, comes with the head: the peer sends it along with the frame's first byte.
bool ReceiveFrame(int fd, Message* type, std::vector<uint8_t>* payload, int* descriptor) {
  uint8_t head[5];
  if (descriptor ? !base::local::ReceiveAllWithDescriptor(fd, head, sizeof head, descriptor)
                 : !base::local::ReceiveAll(fd, head, sizeof head))
    return false;
  uint32_t size = uint32_t(head[0]) | uint32_t(head[1]) << 8 | uint32_t(head[2]) << 16 | uint32_t(head[3]) << 24;
  if (size > kMaxPayload) return false;
  *type = static_cast<Message>(head[4]);
  // Grown as the bytes come, so a length the peer never sends costs nothing.
  constexpr size_t kChunk = 256 * 1024;
  payload->clear();
  while (payload->size() < size) {
    size_t at = payload->size();
    size_t chunk = std::min<size_t>(size - at, kChunk);
    payload->resize(at + chunk);
    if (!base::local::ReceiveAll(fd, payload->data() + at, chunk)) return false;
  }
  return true;
}

}  // namespace

bool Send(int fd, Message type, const Writer& payload, std::span<const uint8_t> tail) {
  return SendFrame(fd, type, payload, tail, -1);
}
bool Receive(int fd, Message* type, std::vector<uint8_t>* payload) { return ReceiveFrame(fd, type, payload, nullptr); }
bool SendWithDescriptor(int fd, Message type, const Writer& payload, int descriptor) {
  return SendFrame(fd, type, payload, {}, descriptor);
}
bool ReceiveWithDescriptor(int fd, Message* type, std::vector<uint8_t>* payload, int* descriptor) {
  if (ReceiveFrame(fd, type, payload, descriptor)) return true;
  if (*descriptor >= 0) ::close(*descriptor);
  *descriptor = -1;
  return false;
}

}  // namespace tavrin::kernel_link
