// Readers of a command-protocol response: "<RSP=n>", "<SCMD=n>...</SCMD>", "<STATUS=n>...</STATUS>",
// "<DATA>\n...\n</DATA>" and the closing "</RSP>". Tags are found anywhere in the received bytes without
// regard to letter case. Every reader stays inside buf[0, len).
#pragma once
#include "win32/types.h"

// Longest number text accepted between a tag's '=' and its '>'.
constexpr DWORD kMaxTagNumberText = 24;

// The command number of "<RSP=n>" at the start of the response; -1 when the response does not begin with
// "<RSP=" or the number is not ended by '>' within kMaxTagNumberText bytes.
int GetRspCode(const char* buf, DWORD len);
// The number of "<SCMD=n>"; -1 when "<SCMD=" or "</SCMD>" is absent or the number is not ended by '>'.
int GetSCmdCode(const char* buf, DWORD len);
// The number of the first "<STATUS=n>"; -1 when "<STATUS=" or "</STATUS>" is absent or the number is not
// ended by '>'.
int GetStatusCode(const char* buf, DWORD len);
// The DATA: from just after the first "<DATA>\n" to the next "\n</DATA>". FALSE when either is absent.
BOOL GetDataFromRspBuff(const char* buf, DWORD len, const char** data, DWORD* dataLen);
// TRUE when "</RSP>" occurs in the bytes.
BOOL IsRspComplete(const char* buf, DWORD len);
