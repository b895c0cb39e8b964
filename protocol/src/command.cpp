#include "zarnet/command.h"

#include <algorithm>
#include <cctype>

#include "zarnet/wire.h"

namespace zarnet {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWithTag(std::string_view text, std::string_view tag) {
  return text.size() >= tag.size() && FindTag(text.substr(0, tag.size()), tag) == 0;
}

// Position of the last occurrence of tag, letters compared without case.
size_t FindLastTag(std::string_view text, std::string_view tag) {
  size_t found = std::string_view::npos;
  for (size_t at = FindTag(text, tag); at != std::string_view::npos; at = FindTag(text, tag, at + 1)) found = at;
  return found;
}

std::string_view DropOneLineFeed(std::string_view text) {
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  return text;
}

std::string_view SkipOneLineFeed(std::string_view text) {
  if (!text.empty() && text.front() == '\n') text.remove_prefix(1);
  return text;
}

// "<TAG=" number ">" at the start of text: the number, and text moved past the ">".
std::optional<long> TakeNumberTag(std::string_view& text, std::string_view tag) {
  if (!StartsWithTag(text, tag)) return std::nullopt;
  size_t close = text.find('>', tag.size());
  if (close == std::string_view::npos) return std::nullopt;
  std::string_view digits = text.substr(tag.size(), close - tag.size());
  if (digits.empty() || digits.find_first_of("0123456789") == std::string_view::npos) return std::nullopt;
  long value = ParseDecimal(digits);
  text.remove_prefix(close + 1);
  return value;
}

}  // namespace

size_t FindTag(std::string_view text, std::string_view tag, size_t from) {
  if (tag.empty() || tag.size() > text.size()) return std::string_view::npos;
  for (size_t at = from; at + tag.size() <= text.size(); ++at) {
    size_t i = 0;
    while (i < tag.size() && Lower(text[at + i]) == Lower(tag[i])) ++i;
    if (i == tag.size()) return at;
  }
  return std::string_view::npos;
}

long ParseDecimal(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
                             text[i] == '\v' || text[i] == '\f'))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value > 100000000000L) break;  // far beyond any number of the protocol
    value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

std::string EncodeCommandRequest(uint32_t command, std::string_view data, uint32_t subcommand) {
  std::string out = std::string(kTagCmd) + std::to_string(command) + ">\n";
  switch (command) {
    case kCmdUnLockServer:
    case kCmdUpGradeFirmware:
      out += std::string(kTagData) + std::string(data) + "\n</DATA>\n</CMD>";
      break;
    case kCmdSetConfigInfo:
      out += std::string(kTagData) + std::string(data) + "</DATA>\n</CMD>";
      break;
    case kCmdGetIProdStringDesc:
      out += std::string(kTagSCmd) + std::to_string(subcommand) + ">\n</SCMD>\n" + std::string(kTagData) +
             std::string(data) + "\n</DATA>\n</CMD>";
      break;
    default:
      out += std::string(kTagCmdEnd);
      break;
  }
  return out;
}

bool IsRequestComplete(std::string_view received) { return FindTag(received, kTagCmdEnd) != std::string_view::npos; }

std::optional<CommandRequest> ParseCommandRequest(std::string_view text) {
  size_t end = FindLastTag(text, kTagCmdEnd);
  if (end == std::string_view::npos) return std::nullopt;
  std::string_view body = text.substr(0, end);
  std::optional<long> command = TakeNumberTag(body, kTagCmd);
  if (!command || *command < 0 || *command > UINT32_MAX) return std::nullopt;
  CommandRequest request;
  request.command = static_cast<uint32_t>(*command);
  body = SkipOneLineFeed(body);
  if (std::optional<long> sub = TakeNumberTag(body, kTagSCmd)) {
    request.subcommand = static_cast<uint32_t>(*sub);
    size_t close = FindTag(body, kTagSCmdEnd);
    if (close != std::string_view::npos) body.remove_prefix(close + kTagSCmdEnd.size());
    body = SkipOneLineFeed(body);
  }
  if (StartsWithTag(body, kTagData)) {
    body.remove_prefix(kTagData.size());
    size_t data_end = FindLastTag(body, "</DATA>");
    if (data_end != std::string_view::npos) body = body.substr(0, data_end);
  }
  request.data = std::string(DropOneLineFeed(body));
  return request;
}

std::string EncodeCommandResponse(uint32_t command, uint32_t status, std::string_view data,
                                  const ResponseForm& form) {
  auto tag = [&](std::string_view t) {
    std::string s(t);
    if (form.lower_case_tags) std::transform(s.begin(), s.end(), s.begin(), Lower);
    return s;
  };
  std::string out = tag(kTagRsp) + (form.rsp_number.empty() ? std::to_string(command) : form.rsp_number) + ">\n";
  if (command == kCmdGetIProdStringDesc)
    out += tag(kTagSCmd) + std::to_string(kSubCmdProductString) + ">\n" + tag(kTagSCmdEnd) + "\n";
  if (form.status_tags) out += tag(kTagStatus) + std::to_string(status) + ">\n" + tag(kTagStatusEnd) + "\n";
  out += tag(kTagData) + std::string(data) + tag(kTagDataEnd) + "\n";
  out.append(form.filler, ' ');
  if (form.end_tag) out += tag(kTagRspEnd);
  return out;
}

std::string EncodeProductString(std::string_view text) {
  size_t length = std::min(text.size(), kMaxProductString);
  std::string out(4 + length, '\0');
  wire::StoreLe32(reinterpret_cast<uint8_t*>(out.data()), static_cast<uint32_t>(length));
  out.replace(4, length, text.substr(0, length));
  return out;
}

std::optional<std::string> DecodeProductString(std::span<const uint8_t> data) {
  if (data.size() < 4) return std::nullopt;
  size_t length = std::min<size_t>({wire::LoadLe32(data.data()), data.size() - 4, kMaxProductString});
  return std::string(reinterpret_cast<const char*>(data.data() + 4), length);
}

}  // namespace zarnet
