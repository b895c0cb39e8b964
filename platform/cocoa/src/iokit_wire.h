// Frames between IOKit clients and the host: u32 length of the rest, then the body (little-endian
// numbers). A request body begins with its u32 operation, a reply body with its i32 result.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "base/local_socket.h"

namespace cocoa::iokit::wire {

inline constexpr uint32_t kMaxFrame = 1 << 20;

enum Op : uint32_t { kMatch = 1, kOpen = 2, kScalar = 3, kStruct = 4, kClose = 5 };

class Writer {
 public:
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void I64(int64_t v) {
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
  }
  void Bytes(const void* p, size_t n) {
    U32(static_cast<uint32_t>(n));
    const auto* b = static_cast<const uint8_t*>(p);
    bytes.insert(bytes.end(), b, b + n);
  }
  void Text(const std::string& s) { Bytes(s.data(), s.size()); }
  std::vector<uint8_t> bytes;
};

// Reads what a frame holds; every read past the end fails (and keeps failing).
class Reader {
 public:
  explicit Reader(const std::vector<uint8_t>& b) : b_(b) {}
  bool U32(uint32_t& v) {
    if (b_.size() - pos_ < 4 || pos_ > b_.size()) return fail();
    v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(b_[pos_ + i]) << (8 * i);
    pos_ += 4;
    return true;
  }
  bool I64(int64_t& v) {
    if (b_.size() - pos_ < 8) return fail();
    uint64_t u = 0;
    for (int i = 0; i < 8; ++i) u |= static_cast<uint64_t>(b_[pos_ + i]) << (8 * i);
    v = static_cast<int64_t>(u);
    pos_ += 8;
    return true;
  }
  bool Bytes(std::vector<uint8_t>& out) {
    uint32_t n;
    if (!U32(n) || b_.size() - pos_ < n) return fail();
    out.assign(b_.begin() + static_cast<long>(pos_), b_.begin() + static_cast<long>(pos_ + n));
    pos_ += n;
    return true;
  }
  bool Text(std::string& out) {
    std::vector<uint8_t> b;
    if (!Bytes(b)) return false;
    out.assign(b.begin(), b.end());
    return true;
  }

 private:
  bool fail() {
    pos_ = b_.size();
    return false;
  }
  const std::vector<uint8_t>& b_;
  size_t pos_ = 0;
};

inline bool SendFrame(int fd, const std::vector<uint8_t>& body) {
  Writer head;
  head.U32(static_cast<uint32_t>(body.size()));
  return tavrin::base::local::SendAll(fd, head.bytes.data(), 4) &&
         tavrin::base::local::SendAll(fd, body.data(), body.size());
}

// False on a closed connection or a frame above kMaxFrame.
inline bool RecvFrame(int fd, std::vector<uint8_t>& body) {
  uint8_t head[4];
  if (!tavrin::base::local::ReceiveAll(fd, head, 4)) return false;
  uint32_t n = static_cast<uint32_t>(head[0]) | (static_cast<uint32_t>(head[1]) << 8) |
               (static_cast<uint32_t>(head[2]) << 16) | (static_cast<uint32_t>(head[3]) << 24);
  if (n > kMaxFrame) return false;
  body.resize(n);
  return tavrin::base::local::ReceiveAll(fd, body.data(), n);
}

}  // namespace cocoa::iokit::wire
