#include "zarnet/negotiation.h"

#include <algorithm>
#include <cstring>

#include "zarnet/wire.h"

namespace zarnet {

std::vector<uint8_t> EncodeNegRequest(uint8_t id, uint16_t port) {
  std::vector<uint8_t> out;
  if (id == NEGCMD_SIGNATURE) {
    out.resize(kNegSignatureSize);
    std::memcpy(out.data() + kNegHeaderSize, kNegSignature, sizeof(kNegSignature));
  } else {
    out.resize(id == NEGCMD_PORT_MODE ? kNegPortRequestSize + 1 : kNegPortRequestSize);
    wire::StoreLe16(out.data() + kNegHeaderSize, port);
    if (id == NEGCMD_PORT_MODE) out[kNegPortRequestSize] = 1;
  }
  wire::StoreLe32(out.data(), static_cast<uint32_t>(out.size()));
  out[4] = id;
  return out;
}

std::vector<uint8_t> EncodeNegSignatureReply() { return EncodeNegRequest(NEGCMD_SIGNATURE, 0); }

std::vector<uint8_t> EncodeNegPortReply(uint8_t id, uint16_t port, bool result) {
  std::vector<uint8_t> out(kNegPortReplySize);
  wire::StoreLe32(out.data(), static_cast<uint32_t>(out.size()));
  out[4] = id;
  wire::StoreLe16(out.data() + kNegHeaderSize, port);
  out[kNegResultOffset] = result ? 1 : 0;
  return out;
}

size_t NegRecordReader::wanted() const {
  if (state_ != State::kNeedMore) return 0;
  if (filled_ < 4) return 4 - filled_;
  return wire::LoadLe32(buffer_) - filled_;  // the length was checked when it arrived
}

NegRecordReader::State NegRecordReader::Feed(std::span<const uint8_t> data, size_t* consumed) {
  size_t taken = 0;
  while (state_ == State::kNeedMore && taken < data.size()) {
    size_t n = std::min(wanted(), data.size() - taken);
    std::memcpy(buffer_ + filled_, data.data() + taken, n);
    filled_ += n;
    taken += n;
    if (filled_ < 4) continue;
    uint32_t length = wire::LoadLe32(buffer_);
    if (length < kNegHeaderSize || length > kNegRecordMax) {
      state_ = State::kMalformed;
    } else if (filled_ == length) {
      state_ = State::kComplete;
    }
  }
  if (consumed) *consumed = taken;
  return state_;
}

std::optional<NegRequest> DecodeNegRequest(std::span<const uint8_t> record) {
  if (record.size() < kNegHeaderSize) return std::nullopt;
  NegRequest request;
  request.id = record[4];
  if (request.id == NEGCMD_SIGNATURE) {
    request.signature_ok = record.size() >= kNegSignatureSize &&
                           std::memcmp(record.data() + kNegHeaderSize, kNegSignature, sizeof(kNegSignature)) == 0;
    return request;
  }
  if (record.size() < kNegPortRequestSize) return std::nullopt;
  request.port = wire::LoadLe16(record.data() + kNegHeaderSize);
  return request;
}

NegVerdict JudgeNegReply(uint8_t id, std::span<const uint8_t> record) {
  if (id == NEGCMD_SIGNATURE) {
    if (record.size() < kNegSignatureSize) return NegVerdict::kMalformed;
    return std::memcmp(record.data() + kNegHeaderSize, kNegSignature, sizeof(kNegSignature)) == 0
               ? NegVerdict::kAccepted
               : NegVerdict::kRefused;
  }
  if (record.size() < kNegPortReplySize) return NegVerdict::kMalformed;
  return record[kNegResultOffset] != 0 ? NegVerdict::kAccepted : NegVerdict::kRefused;
}

}  // namespace zarnet
