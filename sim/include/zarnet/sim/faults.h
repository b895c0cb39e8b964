// Faults a simulated server can be told to commit, to test how the computer's side copes.
#pragma once
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zarnet::sim {

enum class FaultTarget {
  kCommand,    // responses of the command service
  kDiscovery,  // discovery replies
  kBroadcast,  // device-list datagrams
  kUsb,        // USB responses on a claimed device's data connection; `command` is the response's
               // (the request's + 100)
  kData,       // replies of the device-data service (access negotiation)
};

enum class FaultKind {
  kSplit,          // command: the response written in pieces of `chunk` bytes, `delay` apart
  kDelay,          // wait `delay` before answering / sending
  kOversize,       // command: `size` blanks before "</RSP>"; datagrams: padded with zeros to `size` bytes
  kTruncate,       // only the first `size` bytes (command: then the connection is closed)
  kWrongRspNumber, // command: "<RSP=" carries `number` instead of the command's
  kMissingEnd,     // command: no "</RSP>" (the connection is closed after the rest)
  kMissingStatus,  // command: no "<STATUS=" and "</STATUS>"
  kLowerCaseTags,  // command: tags in small letters
  kStatus,         // command: STATUS `number` instead of the real one
  kSilence,        // command: read the request and never answer (the connection stays open until the
                   // client or the server ends it); datagrams: nothing sent
  kEarlyClose,     // command: close without answering: at once after accepting when `command` is 0,
                   // else after reading a request of that command
  kInfoLen,        // broadcast: infolen written as `number`
  kWrongSeqNo,     // usb: SeqNo answered as the request's + `number` (0: + 1)
  kWrongSignature, // data: the signature reply carries another version
  kBusy,           // data: the free test and the claim answer "busy"
};
// On a USB data connection (target usb): kSplit writes the response in pieces of `chunk` bytes, `delay` apart; kDelay
// waits before answering; kStatus answers status `number` (-71: the device has gone); kOversize returns
// `size` data bytes more than asked for; kSilence and kEarlyClose cut the response after `size` bytes (0:
// the header and half the data), then answer nothing more, or close the connection.

struct Fault {
  FaultKind kind = FaultKind::kSilence;
  FaultTarget target = FaultTarget::kCommand;
  uint32_t command = 0;  // command faults: only this command number; 0 any
  size_t chunk = 1;
  std::chrono::milliseconds delay{0};
  size_t size = 0;
  int64_t number = 0;
  int times = -1;  // how many responses or datagrams it hits; -1 until cleared
  int step = -1;   // data faults: only replies to this negotiation record id (0 signature, 1 free test,
                   // 2 claim); -1 any
};

// Text form, used by the configuration file and the command line:
//   KIND [target=command|discovery|broadcast|data|usb] [command=N] [chunk=N] [delay_ms=N] [size=N]
//        [number=N] [times=N] [step=signature|free|claim]
// KIND: split, delay, oversize, truncate, wrong-rsp, missing-end, missing-status, lower-case, status,
// silence, early-close, infolen, wrong-signature, busy (the last two always target data), wrong-seqno
// (always usb). Example: "split chunk=3 delay_ms=20 command=4".
std::optional<Fault> ParseFault(std::string_view text, std::string* error = nullptr);

}  // namespace zarnet::sim
