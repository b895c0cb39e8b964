// A negotiation reply as it may arrive: any bytes, in pieces of any size (the first byte picks them).
#include <cstdint>
#include <cstring>

#include "zarnet/negotiation.h"
#include "zarnet/wire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t piece = data[0] % 16 + 1;
  ++data;
  --size;
  zarnet::NegRecordReader reader;
  size_t at = 0;
  while (at < size && reader.state() == zarnet::NegRecordReader::State::kNeedMore) {
    size_t used = 0;
    size_t n = size - at < piece ? size - at : piece;
    reader.Feed(std::span<const uint8_t>(data + at, n), &used);
    if (used > n) __builtin_trap();
    at += used;
  }
  auto record = reader.record();
  if (record.size() > zarnet::kNegRecordMax) __builtin_trap();
  if (reader.state() == zarnet::NegRecordReader::State::kComplete) {
    if (zarnet::wire::LoadLe32(record.data()) != record.size()) __builtin_trap();
    for (uint8_t id = 0; id < 3; ++id) zarnet::JudgeNegReply(id, record);
    zarnet::DecodeNegRequest(record);
  }
  return 0;
}
