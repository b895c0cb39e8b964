#include "zarnet/sim/faults.h"

#include <utility>

#include "text_util.h"

namespace zarnet::sim {
namespace {

constexpr std::pair<const char*, FaultKind> kKinds[] = {
    {"split", FaultKind::kSplit},
    {"delay", FaultKind::kDelay},
    {"oversize", FaultKind::kOversize},
    {"truncate", FaultKind::kTruncate},
    {"wrong-rsp", FaultKind::kWrongRspNumber},
    {"missing-end", FaultKind::kMissingEnd},
    {"missing-status", FaultKind::kMissingStatus},
    {"lower-case", FaultKind::kLowerCaseTags},
    {"status", FaultKind::kStatus},
    {"silence", FaultKind::kSilence},
    {"early-close", FaultKind::kEarlyClose},
    {"infolen", FaultKind::kInfoLen},
    {"wrong-seqno", FaultKind::kWrongSeqNo},
    {"wrong-signature", FaultKind::kWrongSignature},
    {"busy", FaultKind::kBusy},
};

std::optional<Fault> Refuse(std::string* error, std::string why) {
  if (error) *error = std::move(why);
  return std::nullopt;
}

}  // namespace

std::optional<Fault> ParseFault(std::string_view spec, std::string* error) {
  Fault fault;
  bool have_kind = false;
  while (!(spec = text::Trim(spec)).empty()) {
    size_t end = spec.find_first_of(" \t");
    std::string_view word = spec.substr(0, end);
    spec.remove_prefix(end == std::string_view::npos ? spec.size() : end);
    if (!have_kind) {
      for (const auto& [name, kind] : kKinds)
        if (word == name) {
          fault.kind = kind;
          have_kind = true;
        }
      if (!have_kind) return Refuse(error, "unknown fault \"" + std::string(word) + "\"");
      if (fault.kind == FaultKind::kInfoLen) fault.target = FaultTarget::kBroadcast;
      if (fault.kind == FaultKind::kWrongSeqNo) fault.target = FaultTarget::kUsb;
      if (fault.kind == FaultKind::kWrongSignature || fault.kind == FaultKind::kBusy) fault.target = FaultTarget::kData;
      continue;
    }
    size_t eq = word.find('=');
    if (eq == std::string_view::npos) return Refuse(error, "expected key=value, got \"" + std::string(word) + "\"");
    std::string_view key = word.substr(0, eq), value = word.substr(eq + 1);
    uint64_t n = 0;
    bool ok = true;
    if (key == "target") {
      if (value == "command") fault.target = FaultTarget::kCommand;
      else if (value == "discovery") fault.target = FaultTarget::kDiscovery;
      else if (value == "broadcast") fault.target = FaultTarget::kBroadcast;
      else if (value == "usb") fault.target = FaultTarget::kUsb;
      else if (value == "data") fault.target = FaultTarget::kData;
      else ok = false;
    } else if (key == "step") {
      if (value == "signature") fault.step = 0;
      else if (value == "free") fault.step = 1;
      else if (value == "claim") fault.step = 2;
      else ok = text::ParseNumber(value, 255, &n) && (fault.step = static_cast<int>(n), true);
    } else if (key == "times" && value == "-1") {
      fault.times = -1;
    } else if (key == "number" && !value.empty() && value[0] == '-') {
      ok = text::ParseNumber(value.substr(1), INT64_MAX, &n);
      fault.number = -static_cast<int64_t>(n);
    } else if (!text::ParseNumber(value, INT32_MAX, &n)) {
      ok = false;
    } else if (key == "command") {
      fault.command = static_cast<uint32_t>(n);
    } else if (key == "chunk") {
      fault.chunk = n;
    } else if (key == "delay_ms") {
      fault.delay = std::chrono::milliseconds(n);
    } else if (key == "size") {
      fault.size = n;
    } else if (key == "number") {
      fault.number = static_cast<int64_t>(n);
    } else if (key == "times") {
      fault.times = static_cast<int>(n);
    } else {
      return Refuse(error, "unknown fault setting \"" + std::string(key) + "\"");
    }
    if (!ok) return Refuse(error, "bad value in \"" + std::string(word) + "\"");
  }
  if (!have_kind) return Refuse(error, "empty fault");
  return fault;
}

}  // namespace zarnet::sim
