// Shared by the two stream fuzzers: a sink that checks every event against the bounds its header set and
// records what it saw, so that decodings of one stream split in different places can be compared.
#pragma once
#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "zarnet/usb_wire.h"

namespace fuzzusb {

struct Recorder : zarnet::UsbStreamDecoder::Sink {
  std::vector<uint8_t> kinds;    // H, D (consecutive data pieces merged), I, E
  std::vector<uint8_t> headers;  // raw headers
  std::vector<uint8_t> data;     // all data, in order
  std::vector<uint8_t> descs;    // all descriptors, encoded
  zarnet::UsbFrame frame;
  uint64_t data_seen = 0;
  uint32_t descs_seen = 0;
  bool in_message = false;

  void OnHeader(const uint8_t* raw, const zarnet::UsbFrame& f) override {
    if (in_message) __builtin_trap();
    if (f.stream_length < zarnet::RFC_HEADER_SIZE + uint64_t{f.data_length} + 16ull * f.packets) __builtin_trap();
    if (f.packets > zarnet::kMaxIsoPackets) __builtin_trap();
    in_message = true;
    frame = f;
    data_seen = descs_seen = 0;
    kinds.push_back('H');
    headers.insert(headers.end(), raw, raw + zarnet::RFC_HEADER_SIZE);
  }
  void OnData(std::span<const uint8_t> piece, uint32_t offset) override {
    if (!in_message || piece.empty() || offset != data_seen || offset + piece.size() > frame.data_length)
      __builtin_trap();
    data_seen += piece.size();
    if (kinds.back() != 'D') kinds.push_back('D');
    data.insert(data.end(), piece.begin(), piece.end());
  }
  void OnIsoDesc(const zarnet::RFC_ISO_DESC& d, uint32_t index) override {
    if (!in_message || data_seen != frame.data_length || index != descs_seen || index >= frame.packets)
      __builtin_trap();
    ++descs_seen;
    kinds.push_back('I');
    uint8_t raw[zarnet::RFC_ISO_DESC_SIZE];
    zarnet::EncodeIsoDesc(d, raw);
    descs.insert(descs.end(), raw, raw + sizeof raw);
  }
  void OnMessageEnd() override {
    if (!in_message || data_seen != frame.data_length || descs_seen != frame.packets) __builtin_trap();
    in_message = false;
    kinds.push_back('E');
  }
  bool operator==(const Recorder& o) const {
    return kinds == o.kinds && headers == o.headers && data == o.data && descs == o.descs;
  }
};

// The first four bytes choose two split points; the rest is the stream. Decodes it whole and in three
// pieces; both must agree, and neither may read beyond what it was given.
inline void DecodeBothWays(const uint8_t* input, size_t size, zarnet::UsbStreamDecoder::Direction direction) {
  if (size < 4) return;
  std::vector<uint8_t> bytes(input + 4, input + size);  // an exact copy: reads past it are caught
  std::span<const uint8_t> stream(bytes);
  const uint64_t limit = 1 << 16;  // small, so the response bound is met often

  Recorder whole;
  zarnet::UsbStreamDecoder one(direction, limit);
  const bool ok_whole = one.Feed(stream, whole);

  Recorder pieces;
  zarnet::UsbStreamDecoder many(direction, limit);
  const size_t a = (input[0] | input[1] << 8) % (stream.size() + 1);
  const size_t b = std::max(a, static_cast<size_t>((input[2] | input[3] << 8) % (stream.size() + 1)));
  bool ok = many.Feed(stream.first(a), pieces);
  ok = many.Feed(stream.subspan(a, b - a), pieces) && ok;
  ok = many.Feed(stream.subspan(b), pieces) && ok;

  if (ok != ok_whole || one.failed() != many.failed()) __builtin_trap();
  if (ok && one.between_messages() != many.between_messages()) __builtin_trap();
  if (!(whole == pieces)) __builtin_trap();
}

}  // namespace fuzzusb
