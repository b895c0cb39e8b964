// The server command protocol on TCP port 1341: one connection, one request, one response, then the
// server closes. Requests and responses are tagged text; tags are matched without regard to the case of
// ASCII letters.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zarnet {

// Command numbers (the N of "<CMD=N>").
inline constexpr uint32_t kCmdRestoreFactoryDefaults = 1;
inline constexpr uint32_t kCmdResetServer = 2;
inline constexpr uint32_t kCmdUnLockServer = 3;
inline constexpr uint32_t kCmdGetConfigInfo = 4;
inline constexpr uint32_t kCmdSetConfigInfo = 5;
inline constexpr uint32_t kCmdGetConnectedClientDetails = 6;
inline constexpr uint32_t kCmdGetIProdStringDesc = 7;
inline constexpr uint32_t kCmdUpGradeFirmware = 8;
inline constexpr uint32_t kSubCmdProductString = 3;  // the sub-command of command 7

// STATUS digits of a response.
inline constexpr uint32_t RSP_STATUS_SUCCESS = 0;
inline constexpr uint32_t RSP_STATUS_SUCCESS_RESET = 1;  // done; the client then sends command 2
inline constexpr uint32_t RSP_STATUS_INVALID_COMMAND = 2;
inline constexpr uint32_t RSP_STATUS_INVALID_PASSWORD = 3;
inline constexpr uint32_t RSP_STATUS_DEVICE_NOT_FOUND = 4;

// Tags.
inline constexpr std::string_view kTagCmd = "<CMD=";
inline constexpr std::string_view kTagCmdEnd = "</CMD>";
inline constexpr std::string_view kTagSCmd = "<SCMD=";
inline constexpr std::string_view kTagSCmdEnd = "</SCMD>";
inline constexpr std::string_view kTagData = "<DATA>\n";
inline constexpr std::string_view kTagDataEnd = "\n</DATA>";
inline constexpr std::string_view kTagRsp = "<RSP=";
inline constexpr std::string_view kTagRspEnd = "</RSP>";
inline constexpr std::string_view kTagStatus = "<STATUS=";
inline constexpr std::string_view kTagStatusEnd = "</STATUS>";

#pragma pack(push, 1)
// DATA of a successful command 7 response.
struct iproduct_string {
  uint32_t length;  // little-endian
  char text[255];
};
#pragma pack(pop)
static_assert(sizeof(iproduct_string) == 259);
inline constexpr size_t kMaxProductString = 255;

// Position of the first occurrence of tag in text, letters compared without case; npos when none.
size_t FindTag(std::string_view text, std::string_view tag, size_t from = 0);
// Decimal text as the protocol reads it: leading blanks, an optional sign, digits up to the first other
// character; no digits read as 0. Stops at the end of the text.
long ParseDecimal(std::string_view text);

// The request forms of the computer's side:
//   1, 2, 4, 6 and numbers without a form of their own: "<CMD=N>\n</CMD>"
//   3, 8: "<CMD=N>\n<DATA>\n" data "\n</DATA>\n</CMD>"
//   5:    "<CMD=N>\n<DATA>\n" data "</DATA>\n</CMD>" (the configuration text ends with its own line feed)
//   7:    "<CMD=N>\n<SCMD=S>\n</SCMD>\n<DATA>\n" data "\n</DATA>\n</CMD>"
std::string EncodeCommandRequest(uint32_t command, std::string_view data = {},
                                 uint32_t subcommand = kSubCmdProductString);

// A request as the server reads it.
struct CommandRequest {
  uint32_t command = 0;
  std::optional<uint32_t> subcommand;
  std::string data;  // without the line feeds that frame it
};
// True once "</CMD>" has arrived.
bool IsRequestComplete(std::string_view received);
// Accepts the forms above and also data without DATA tags ("<CMD=8>\nname\n</CMD>"). None when the text
// does not begin with "<CMD=" followed by a number and ">", or lacks "</CMD>".
std::optional<CommandRequest> ParseCommandRequest(std::string_view text);

// How a response is written. The defaults give the one form servers send:
//   "<RSP=N>\n" ["<SCMD=S>\n</SCMD>\n"] "<STATUS=S>\n</STATUS>\n<DATA>\n" data "\n</DATA>\n</RSP>"
// The other settings exist to write broken responses on purpose.
struct ResponseForm {
  std::string rsp_number;  // text after "<RSP="; empty: the command number
  bool status_tags = true;
  bool end_tag = true;
  bool lower_case_tags = false;
  size_t filler = 0;  // blanks before "</RSP>"
};
std::string EncodeCommandResponse(uint32_t command, uint32_t status, std::string_view data = {},
                                  const ResponseForm& form = {});

// The DATA of a successful command 7 response: u32 length (little-endian), then the text (at most 255).
std::string EncodeProductString(std::string_view text);
// Reads an iproduct_string from DATA; none when the length word is incomplete. The text holds only bytes
// inside the DATA, at most 255.
std::optional<std::string> DecodeProductString(std::span<const uint8_t> data);

}  // namespace zarnet
