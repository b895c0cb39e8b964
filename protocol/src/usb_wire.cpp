#include "zarnet/usb_wire.h"

#include <algorithm>
#include <cstring>

#include "zarnet/wire.h"

namespace zarnet {
namespace {

constexpr size_t kWords = 12;  // u32 words of a request header before its setup packet

void EncodeWords(const uint32_t* words, size_t count, uint8_t* out) {
  for (size_t i = 0; i < count; ++i) wire::StoreLe32(out + 4 * i, words[i]);
}
void DecodeWords(const uint8_t* in, size_t count, uint32_t* words) {
  for (size_t i = 0; i < count; ++i) words[i] = wire::LoadLe32(in + 4 * i);
}

// A record of 32-bit fields only, each little-endian on the wire.
template <class T>
void EncodeRecord(const T& record, uint8_t* out) {
  static_assert(sizeof(T) % 4 == 0);
  uint32_t words[sizeof(T) / 4];
  memcpy(words, &record, sizeof words);
  EncodeWords(words, sizeof(T) / 4, out);
}
template <class T>
T DecodeRecord(const uint8_t* in) {
  static_assert(sizeof(T) % 4 == 0);
  uint32_t words[sizeof(T) / 4];
  DecodeWords(in, sizeof(T) / 4, words);
  T record;
  memcpy(&record, words, sizeof words);
  return record;
}

// A message's data, then its isochronous descriptors, behind the header at `message`.
void EncodeBody(uint8_t* message, std::span<const uint8_t> data, std::span<const RFC_ISO_DESC> packets) {
  if (!data.empty()) memcpy(message + RFC_HEADER_SIZE, data.data(), data.size());
  uint8_t* p = message + RFC_HEADER_SIZE + data.size();
  for (const RFC_ISO_DESC& d : packets) {
    EncodeIsoDesc(d, p);
    p += RFC_ISO_DESC_SIZE;
  }
}

}  // namespace

void EncodeHeader(const RFC_HEADER& header, uint8_t* out) {
  uint32_t words[kWords];
  memcpy(words, &header, sizeof words);
  EncodeWords(words, kWords, out);
  memcpy(out + 4 * kWords, header.SetupPacket, sizeof header.SetupPacket);
}

RFC_HEADER DecodeHeader(const uint8_t* in) {
  RFC_HEADER header;
  uint32_t words[kWords];
  DecodeWords(in, kWords, words);
  memcpy(&header, words, sizeof words);
  memcpy(header.SetupPacket, in + 4 * kWords, sizeof header.SetupPacket);
  return header;
}

void EncodeResponseHeader(const RFC_RESPONSE_HEADER& header, uint8_t* out) { EncodeRecord(header, out); }

RFC_RESPONSE_HEADER DecodeResponseHeader(const uint8_t* in) { return DecodeRecord<RFC_RESPONSE_HEADER>(in); }

void EncodeIsoDesc(const RFC_ISO_DESC& desc, uint8_t* out) { EncodeRecord(desc, out); }

RFC_ISO_DESC DecodeIsoDesc(const uint8_t* in) { return DecodeRecord<RFC_ISO_DESC>(in); }

UsbSetupPacket SetupOf(const RFC_HEADER& header) {
  const uint8_t* s = header.SetupPacket;
  return {s[0], s[1], wire::LoadLe16(s + 2), wire::LoadLe16(s + 4), wire::LoadLe16(s + 6)};
}

void SetSetup(RFC_HEADER& header, const UsbSetupPacket& setup) {
  uint8_t* s = header.SetupPacket;
  s[0] = setup.bmRequestType;
  s[1] = setup.bRequest;
  wire::StoreLe16(s + 2, setup.wValue);
  wire::StoreLe16(s + 4, setup.wIndex);
  wire::StoreLe16(s + 6, setup.wLength);
}

uint32_t RequestCommandLength(uint32_t command, uint32_t out_data_length, uint32_t packets) {
  if (command == RFC_CMD_UNLINK) return kUnlinkCommandLength;
  return RFC_HEADER_SIZE + out_data_length + RFC_ISO_DESC_SIZE * packets;
}

std::optional<UsbFrame> FrameOfRequest(const RFC_HEADER& header) {
  UsbFrame frame;
  frame.stream_length = RFC_HEADER_SIZE;
  if (header.Command == RFC_CMD_UNLINK) {
    // Nothing follows an unlink, whatever its CommandLength says beyond the header.
    if (header.CommandLength > RFC_HEADER_SIZE) return std::nullopt;
    return frame;
  }
  frame.packets = header.Command == RFC_CMD_ISOCH ? header.NumberOfPackets : 0;
  if (frame.packets > kMaxIsoPackets) return std::nullopt;
  const uint64_t descriptors = uint64_t{RFC_ISO_DESC_SIZE} * frame.packets;
  if (header.CommandLength < RFC_HEADER_SIZE) {
    if (frame.packets != 0) return std::nullopt;
    return frame;  // a header alone
  }
  if (header.CommandLength > kSendBufferSize) return std::nullopt;
  if (header.CommandLength < RFC_HEADER_SIZE + descriptors) return std::nullopt;
  const uint64_t data = header.CommandLength - RFC_HEADER_SIZE - descriptors;
  if (data != 0 && data != header.TransferLength) return std::nullopt;
  frame.data_length = static_cast<uint32_t>(data);
  frame.stream_length = header.CommandLength;
  return frame;
}

bool IsIsoOutResponse(const RFC_RESPONSE_HEADER& header) {
  return header.Command == RFC_CMD_ISOCH + kResponseCommandOffset && !(header.EndPoint & kEndpointDirectionIn);
}

std::optional<UsbFrame> FrameOfResponse(const RFC_RESPONSE_HEADER& header, uint64_t max_message) {
  UsbFrame frame;
  const bool iso = header.Command == RFC_CMD_ISOCH + kResponseCommandOffset;
  frame.packets = iso ? header.NumberOfPackets : 0;
  if (frame.packets > kMaxIsoPackets) return std::nullopt;
  frame.data_length = IsIsoOutResponse(header) ? 0 : header.ActualLength;
  frame.stream_length = uint64_t{RFC_HEADER_SIZE} + frame.data_length + uint64_t{RFC_ISO_DESC_SIZE} * frame.packets;
  if (header.CommandLength != frame.stream_length || frame.stream_length > max_message) return std::nullopt;
  return frame;
}

bool SetIsoPacketLengths(std::span<RFC_ISO_DESC> packets, uint32_t transfer_length) {
  for (size_t i = 0; i < packets.size(); ++i) {
    const uint32_t end = i + 1 < packets.size() ? packets[i + 1].Offset : transfer_length;
    if (packets[i].Offset > end || end > transfer_length) return false;
  }
  for (size_t i = 0; i < packets.size(); ++i) {
    const uint32_t end = i + 1 < packets.size() ? packets[i + 1].Offset : transfer_length;
    packets[i].Length = end - packets[i].Offset;
  }
  return true;
}

void AppendRequest(std::vector<uint8_t>& out, RFC_HEADER header, std::span<const uint8_t> data,
                   std::span<const RFC_ISO_DESC> packets) {
  if (header.Command == RFC_CMD_UNLINK) {
    data = {};
    packets = {};
  }
  header.CommandLength = RequestCommandLength(header.Command, static_cast<uint32_t>(data.size()),
                                              static_cast<uint32_t>(packets.size()));
  const size_t at = out.size();
  out.resize(at + RFC_HEADER_SIZE + data.size() + RFC_ISO_DESC_SIZE * packets.size());
  EncodeHeader(header, out.data() + at);
  EncodeBody(out.data() + at, data, packets);
}

void AppendResponse(std::vector<uint8_t>& out, RFC_RESPONSE_HEADER header, std::span<const uint8_t> data,
                    std::span<const RFC_ISO_DESC> packets) {
  if (header.Command == RFC_CMD_ISOCH + kResponseCommandOffset) header.NumberOfPackets = static_cast<uint32_t>(packets.size());
  else packets = {};
  if (IsIsoOutResponse(header)) data = {};
  else header.ActualLength = static_cast<uint32_t>(data.size());
  header.CommandLength = static_cast<uint32_t>(RFC_HEADER_SIZE + data.size() + RFC_ISO_DESC_SIZE * packets.size());
  const size_t at = out.size();
  out.resize(at + header.CommandLength);
  EncodeResponseHeader(header, out.data() + at);
  EncodeBody(out.data() + at, data, packets);
}

RFC_RESPONSE_HEADER ResponseTo(const RFC_HEADER& request, int32_t status) {
  RFC_RESPONSE_HEADER r{};
  r.CommandLength = RFC_HEADER_SIZE;
  r.Command = request.Command + kResponseCommandOffset;
  r.PortNum = request.PortNum;
  r.Interface = request.Interface;
  r.SeqNo = request.SeqNo;
  r.EndPoint = request.EndPoint;
  r.Status = status;
  return r;
}

UsbStreamDecoder::UsbStreamDecoder(Direction direction, uint64_t max_message)
    : direction_(direction), max_message_(max_message) {}

void UsbStreamDecoder::Finish(Sink& sink) {
  state_ = State::kHeader;
  have_ = 0;
  sink.OnMessageEnd();
}

bool UsbStreamDecoder::Feed(std::span<const uint8_t> bytes, Sink& sink) {
  while (!failed_ && !bytes.empty()) {
    switch (state_) {
      case State::kHeader: {
        const size_t take = std::min<size_t>(bytes.size(), RFC_HEADER_SIZE - have_);
        memcpy(header_ + have_, bytes.data(), take);
        have_ += static_cast<uint32_t>(take);
        bytes = bytes.subspan(take);
        if (have_ < RFC_HEADER_SIZE) break;
        std::optional<UsbFrame> frame =
            direction_ == Direction::kRequests ? FrameOfRequest(DecodeHeader(header_))
                                               : FrameOfResponse(DecodeResponseHeader(header_), max_message_);
        if (!frame) {
          failed_ = true;
          error_ = "message out of frame: CommandLength " + std::to_string(wire::LoadLe32(header_)) + ", command " +
                   std::to_string(wire::LoadLe32(header_ + 4));
          return false;
        }
        frame_ = *frame;
        have_ = 0;
        desc_index_ = 0;
        sink.OnHeader(header_, frame_);
        if (frame_.data_length) state_ = State::kData;
        else if (frame_.packets) state_ = State::kDesc;
        else Finish(sink);
        break;
      }
      case State::kData: {
        const size_t take = std::min<size_t>(bytes.size(), frame_.data_length - have_);
        sink.OnData(bytes.first(take), have_);
        have_ += static_cast<uint32_t>(take);
        bytes = bytes.subspan(take);
        if (have_ < frame_.data_length) break;
        have_ = 0;
        if (frame_.packets) state_ = State::kDesc;
        else Finish(sink);
        break;
      }
      case State::kDesc: {
        const size_t take = std::min<size_t>(bytes.size(), RFC_ISO_DESC_SIZE - have_);
        memcpy(desc_ + have_, bytes.data(), take);
        have_ += static_cast<uint32_t>(take);
        bytes = bytes.subspan(take);
        if (have_ < RFC_ISO_DESC_SIZE) break;
        have_ = 0;
        sink.OnIsoDesc(DecodeIsoDesc(desc_), desc_index_);
        if (++desc_index_ == frame_.packets) Finish(sink);
        break;
      }
    }
  }
  return !failed_;
}

namespace {
void SetHeader(UsbRequestMessage& m, const uint8_t* raw) { m.header = DecodeHeader(raw); }
void SetHeader(UsbResponseMessage& m, const uint8_t* raw) { m.header = DecodeResponseHeader(raw); }
}  // namespace

template <typename Message>
void UsbMessageCollector<Message>::OnHeader(const uint8_t* raw, const UsbFrame& frame) {
  current_ = Message{};
  SetHeader(current_, raw);
  current_.data.reserve(frame.data_length);
  current_.packets.reserve(frame.packets);
}

template <typename Message>
void UsbMessageCollector<Message>::OnData(std::span<const uint8_t> piece, uint32_t) {
  current_.data.insert(current_.data.end(), piece.begin(), piece.end());
}

template <typename Message>
void UsbMessageCollector<Message>::OnIsoDesc(const RFC_ISO_DESC& desc, uint32_t) {
  current_.packets.push_back(desc);
}

template <typename Message>
void UsbMessageCollector<Message>::OnMessageEnd() {
  done_.push_back(std::move(current_));
  current_ = Message{};
}

template class UsbMessageCollector<UsbRequestMessage>;
template class UsbMessageCollector<UsbResponseMessage>;

}  // namespace zarnet
