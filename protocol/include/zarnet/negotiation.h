// The access negotiation on a server's device-data port (TCP 3240): before a computer drives a remote
// USB device it checks the server's protocol version, asks whether the device is free and claims it,
// each step on a connection of its own. Every message, both ways, is one record:
//   u32 length (the whole record, these 4 bytes included), u8 id, payload; little-endian, packed.
// Requests: signature (id 0, payload "Ver1.0" with its zero, 12 bytes), is-device-free and claim (ids 1
// and 2, payload u16 port, 7 bytes); ids 3 and 4 exist but are never sent.
// Replies: u32 length, u8 id, u16 port, u8 result (8 bytes); the signature reply carries "Ver1.0" with
// its zero at bytes 5 to 11 instead (12 bytes).
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace zarnet {

enum NegCommandId : uint8_t {
  NEGCMD_SIGNATURE = 0,
  NEGCMD_IS_DEVICE_FREE = 1,
  NEGCMD_CLAIM_DEVICE = 2,
  NEGCMD_RELEASE_DEVICE = 3,  // prepared, never sent
  NEGCMD_PORT_MODE = 4,       // prepared, never sent
};

inline constexpr char kNegSignature[7] = {'V', 'e', 'r', '1', '.', '0', '\0'};
inline constexpr size_t kNegHeaderSize = 5;      // length and id
inline constexpr size_t kNegRecordMax = 133;     // the largest record either side accepts
inline constexpr size_t kNegSignatureSize = 12;  // request and reply
inline constexpr size_t kNegPortRequestSize = 7;
inline constexpr size_t kNegPortReplySize = 8;
inline constexpr size_t kNegResultOffset = 7;    // result byte of a port reply

// Requests (the computer's side). Each returns the record; the size is the record's length field.
std::vector<uint8_t> EncodeNegRequest(uint8_t id, uint16_t port);

// Replies (the server's side).
std::vector<uint8_t> EncodeNegSignatureReply();
std::vector<uint8_t> EncodeNegPortReply(uint8_t id, uint16_t port, bool result);

// Collects one record from a byte stream that may arrive in any pieces. The length field is checked as
// soon as it is complete: below the 5-byte header or above kNegRecordMax the record is malformed and
// nothing more is taken.
class NegRecordReader {
 public:
  enum class State { kNeedMore, kComplete, kMalformed };
  // Takes bytes up to the end of the record; *consumed says how many (the rest belongs to whatever
  // follows on the connection).
  State Feed(std::span<const uint8_t> data, size_t* consumed = nullptr);
  State state() const { return state_; }
  // How many more bytes the record needs (at least 1 while kNeedMore); a receive may ask for just these.
  size_t wanted() const;
  std::span<const uint8_t> record() const { return {buffer_, filled_}; }
  void Reset() { filled_ = 0; state_ = State::kNeedMore; }

 private:
  uint8_t buffer_[kNegRecordMax] = {};
  size_t filled_ = 0;
  State state_ = State::kNeedMore;
};

struct NegRequest {
  uint8_t id = 0;
  uint16_t port = 0;        // ids 1 to 4
  bool signature_ok = false;  // id 0: the payload is "Ver1.0" with its zero
};
// A complete request record as the reader gave it; none when it is too short for its id.
std::optional<NegRequest> DecodeNegRequest(std::span<const uint8_t> record);

// How the computer judges a complete reply to its request `id`.
enum class NegVerdict {
  kAccepted,   // signature matches; device free; claim granted
  kRefused,    // signature differs; device busy; claim refused
  kMalformed,  // too short to carry what is judged
};
NegVerdict JudgeNegReply(uint8_t id, std::span<const uint8_t> record);

}  // namespace zarnet
