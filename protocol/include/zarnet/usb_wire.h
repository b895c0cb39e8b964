// The device-data protocol on the data port (3240): every request and every response is a 56-byte
// RFC_HEADER, then its data, then its isochronous packet descriptors. One codec for both sides: the bus
// driver writes requests and reads responses, the simulator reads requests and writes responses.
//
// The framing, decided once for both sides:
// - Every header occupies 56 bytes in the stream. An unlink says CommandLength 28 and is still followed
//   by the next message only after 56 bytes; any request whose CommandLength is below 56 is framed as a
//   header alone.
// - A request carries outgoing data (exactly TransferLength bytes) when CommandLength says so, then, for
//   an isochronous transfer, NumberOfPackets descriptors; nothing else carries descriptors.
// - A response carries ActualLength bytes of data, except an isochronous OUT response, whose
//   ActualLength is the number of bytes the device accepted and which carries no data. An isochronous
//   response is followed by as many descriptors as its packet word counts. CommandLength must agree.
// - Each request descriptor's Length is that packet's own length (offset of the next packet, or the
//   transfer length for the last, minus its own offset).
// - Isochronous IN data is laid out as in the transfer buffer: each packet's bytes at that packet's
//   offset, ActualLength reaching to the end of the last packet that returned bytes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zarnet {

#pragma pack(push, 1)
// A request header. Words from offset 24 on mean other things in responses: RFC_RESPONSE_HEADER.
struct RFC_HEADER {
  uint32_t CommandLength;
  uint32_t Command;
  uint32_t PortNum;
  uint32_t Interface;
  uint32_t SeqNo;
  uint32_t EndPoint;
  uint32_t TransferFlags;  // an unlink: the SeqNo of the request to cancel
  uint32_t TransferLength;
  uint32_t ActualLength;
  uint32_t StartFrame;
  uint32_t NumberOfPackets;
  uint32_t Interval;
  uint8_t SetupPacket[8];  // bmRequestType, bRequest, wValue, wIndex, wLength
};

// A response header: the first six words as in a request.
struct RFC_RESPONSE_HEADER {
  uint32_t CommandLength;
  uint32_t Command;
  uint32_t PortNum;
  uint32_t Interface;
  uint32_t SeqNo;
  uint32_t EndPoint;
  int32_t Status;
  uint32_t Reserved28;
  uint32_t ActualLength;
  uint32_t Reserved36;
  uint32_t StartFrame;  // a current-frame response: the frame number
  uint32_t NumberOfPackets;
  uint32_t ErrorCount;
  uint32_t Reserved52;
};

struct RFC_ISO_DESC {
  uint32_t Offset;
  uint32_t Length;
  uint32_t ActualLength;
  int32_t Status;
};
#pragma pack(pop)
static_assert(sizeof(RFC_HEADER) == 56);
static_assert(sizeof(RFC_RESPONSE_HEADER) == 56);
static_assert(sizeof(RFC_ISO_DESC) == 16);

inline constexpr uint32_t RFC_HEADER_SIZE = 56;
inline constexpr uint32_t RFC_ISO_DESC_SIZE = 16;
inline constexpr uint32_t MAX_DATA_SIZE = 0x10000;                     // largest OUT transfer of one request
inline constexpr uint32_t kSendBufferSize = RFC_HEADER_SIZE + MAX_DATA_SIZE;  // 65,592: largest request
inline constexpr uint32_t kMaxIsoPackets = 256;
inline constexpr uint32_t kUnlinkCommandLength = 28;
inline constexpr uint32_t kResponseCommandOffset = 100;
inline constexpr uint32_t kIsoRequestStatus = static_cast<uint32_t>(-18);  // Status of a request descriptor

// Command codes of requests; a response carries the code plus 100.
inline constexpr uint32_t RFC_CMD_ABORT_PIPE = 0x27;
inline constexpr uint32_t RFC_CMD_SYNC_RESET_PIPE = 0x29;
inline constexpr uint32_t RFC_CMD_CONTROL = 0x2B;
inline constexpr uint32_t RFC_CMD_BULK = 0x2C;
inline constexpr uint32_t RFC_CMD_INTERRUPT = 0x2D;
inline constexpr uint32_t RFC_CMD_ISOCH = 0x2E;
inline constexpr uint32_t RFC_CMD_UNLINK = 50;
inline constexpr uint32_t RFC_CMD_CURRENT_FRAME = 0x33;
inline constexpr uint32_t RFC_CMD_UNKNOWN = 0x7C;
inline constexpr uint32_t kFirstResponseCommand = 139;  // the range a client accepts
inline constexpr uint32_t kLastResponseCommand = 151;

// Status words of responses.
inline constexpr int32_t kWireStatusSuccess = 0;
inline constexpr int32_t kWireStatusDeviceGone = -71;  // the device has left the server's port
inline constexpr int32_t kWireStatusStall = -32;
inline constexpr int32_t kWireStatusEnded = -104;     // ended by a reset pipe or an unlink
inline constexpr int32_t kWireStatusUnknown = -2;     // unknown request

inline constexpr uint32_t kEndpointDirectionIn = 0x80;

// Byte images of the records (little-endian whatever the host).
void EncodeHeader(const RFC_HEADER& header, uint8_t* out);  // RFC_HEADER_SIZE bytes
RFC_HEADER DecodeHeader(const uint8_t* in);
void EncodeResponseHeader(const RFC_RESPONSE_HEADER& header, uint8_t* out);
RFC_RESPONSE_HEADER DecodeResponseHeader(const uint8_t* in);
void EncodeIsoDesc(const RFC_ISO_DESC& desc, uint8_t* out);  // RFC_ISO_DESC_SIZE bytes
RFC_ISO_DESC DecodeIsoDesc(const uint8_t* in);

struct UsbSetupPacket {
  uint8_t bmRequestType = 0;
  uint8_t bRequest = 0;
  uint16_t wValue = 0;
  uint16_t wIndex = 0;
  uint16_t wLength = 0;
  bool in() const { return (bmRequestType & 0x80) != 0; }  // the direction of a control transfer
};
UsbSetupPacket SetupOf(const RFC_HEADER& header);
void SetSetup(RFC_HEADER& header, const UsbSetupPacket& setup);

// What follows a header in the stream, and how many bytes the message occupies in all.
struct UsbFrame {
  uint32_t data_length = 0;
  uint32_t packets = 0;       // descriptors that follow the data
  uint64_t stream_length = 0; // header included
};

// CommandLength of a request: 56 + its OUT data + 16 per descriptor; 28 for an unlink.
uint32_t RequestCommandLength(uint32_t command, uint32_t out_data_length, uint32_t packets);

// Framing of a request header; none when its lengths disagree (data other than TransferLength, more than
// kMaxIsoPackets descriptors, a message larger than kSendBufferSize).
std::optional<UsbFrame> FrameOfRequest(const RFC_HEADER& header);
// Framing of a response header; none when CommandLength disagrees with its data and descriptors or the
// message is larger than max_message.
std::optional<UsbFrame> FrameOfResponse(const RFC_RESPONSE_HEADER& header, uint64_t max_message);
bool IsIsoOutResponse(const RFC_RESPONSE_HEADER& header);

// Each packet's own length from the offsets of the packets of a transfer of transfer_length bytes; false
// (nothing changed) when the offsets do not rise or lie beyond the transfer.
bool SetIsoPacketLengths(std::span<RFC_ISO_DESC> packets, uint32_t transfer_length);

// Whole messages. They set CommandLength (28 for an unlink, whose header still takes 56 bytes); a
// response also gets ActualLength = data size unless it is an isochronous OUT response, and its packet
// word = the number of descriptors when it is isochronous.
void AppendRequest(std::vector<uint8_t>& out, RFC_HEADER header, std::span<const uint8_t> data = {},
                   std::span<const RFC_ISO_DESC> packets = {});
void AppendResponse(std::vector<uint8_t>& out, RFC_RESPONSE_HEADER header, std::span<const uint8_t> data = {},
                    std::span<const RFC_ISO_DESC> packets = {});
// The response header that answers a request: command + 100, PortNum, Interface, SeqNo and EndPoint echoed.
RFC_RESPONSE_HEADER ResponseTo(const RFC_HEADER& request, int32_t status);

// Incremental decoder of one direction of the stream. Bytes may arrive split at any point; the decoder
// keeps at most one header and one descriptor of its own and hands data on as it comes, so a large
// message costs no memory here. Once a header is out of frame the decoder fails for good: the stream
// cannot be trusted past it.
class UsbStreamDecoder {
 public:
  enum class Direction { kRequests, kResponses };
  class Sink {
   public:
    virtual ~Sink() = default;
    // A header is complete; frame tells what follows. raw is the header's 56 bytes.
    virtual void OnHeader(const uint8_t* raw, const UsbFrame& frame) = 0;
    // A piece of the message's data, at `offset` within it.
    virtual void OnData(std::span<const uint8_t> piece, uint32_t offset) = 0;
    virtual void OnIsoDesc(const RFC_ISO_DESC& desc, uint32_t index) = 0;
    virtual void OnMessageEnd() = 0;
  };

  // max_message bounds a response message (header included); requests are bounded by kSendBufferSize.
  explicit UsbStreamDecoder(Direction direction, uint64_t max_message = kDefaultMaxResponse);
  // Consumes bytes; false once the stream is out of frame (then and later nothing more is consumed).
  bool Feed(std::span<const uint8_t> bytes, Sink& sink);
  bool failed() const { return failed_; }
  const std::string& error() const { return error_; }
  bool between_messages() const { return state_ == State::kHeader && have_ == 0; }

  static constexpr uint64_t kDefaultMaxResponse = RFC_HEADER_SIZE + 16ull * 1024 * 1024 + 16ull * kMaxIsoPackets;

 private:
  enum class State { kHeader, kData, kDesc };
  void Finish(Sink& sink);
  Direction direction_;
  uint64_t max_message_;
  State state_ = State::kHeader;
  uint8_t header_[RFC_HEADER_SIZE] = {};
  uint8_t desc_[RFC_ISO_DESC_SIZE] = {};
  uint32_t have_ = 0;  // bytes of the current header, data block or descriptor
  uint32_t desc_index_ = 0;
  UsbFrame frame_;
  bool failed_ = false;
  std::string error_;
};

// Whole messages, for the simulator (requests) and for test clients (responses).
struct UsbRequestMessage {
  RFC_HEADER header{};
  std::vector<uint8_t> data;
  std::vector<RFC_ISO_DESC> packets;
};
struct UsbResponseMessage {
  RFC_RESPONSE_HEADER header{};
  std::vector<uint8_t> data;
  std::vector<RFC_ISO_DESC> packets;
};

// Collects whole messages from a decoder; the messages wait in a queue for the caller.
template <typename Message>
class UsbMessageCollector : public UsbStreamDecoder::Sink {
 public:
  void OnHeader(const uint8_t* raw, const UsbFrame& frame) override;
  void OnData(std::span<const uint8_t> piece, uint32_t offset) override;
  void OnIsoDesc(const RFC_ISO_DESC& desc, uint32_t index) override;
  void OnMessageEnd() override;
  std::deque<Message>& messages() { return done_; }

 private:
  Message current_;
  std::deque<Message> done_;
};
using UsbRequestCollector = UsbMessageCollector<UsbRequestMessage>;
using UsbResponseCollector = UsbMessageCollector<UsbResponseMessage>;

}  // namespace zarnet
