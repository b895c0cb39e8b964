#include "admin/comm/ResponseReader.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "admin/util/FindPattern.h"
#include "zarnet/command.h"

namespace {

using std::string_view;

const char* Find(const char* buf, DWORD len, string_view tag, DWORD from = 0) {
  if (from > len) return nullptr;
  return reinterpret_cast<const char*>(FindPattern(reinterpret_cast<const BYTE*>(buf) + from, len - from,
                                                   reinterpret_cast<const BYTE*>(tag.data()),
                                                   static_cast<DWORD>(tag.size())));
}

// The number that starts at numberAt and is ended by '>' within kMaxTagNumberText bytes; -1 otherwise.
int ReadTagNumber(const char* buf, DWORD len, const char* numberAt) {
  DWORD start = static_cast<DWORD>(numberAt - buf);
  DWORD window = len - start < kMaxTagNumberText + 1 ? len - start : kMaxTagNumberText + 1;
  const void* close = memchr(numberAt, '>', window);
  if (close == nullptr) return -1;
  long value = zarnet::ParseDecimal(string_view(numberAt, static_cast<const char*>(close) - numberAt));
  return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

int ReadEnclosedNumber(const char* buf, DWORD len, string_view open, string_view close) {
  if (buf == nullptr) return -1;
  const char* openAt = Find(buf, len, open);
  if (openAt == nullptr || Find(buf, len, close) == nullptr) return -1;
  return ReadTagNumber(buf, len, openAt + open.size());
}

}  // namespace

int GetRspCode(const char* buf, DWORD len) {
  const DWORD openLen = static_cast<DWORD>(zarnet::kTagRsp.size());
  if (buf == nullptr || len < openLen || Find(buf, openLen, zarnet::kTagRsp) != buf) return -1;
  return ReadTagNumber(buf, len, buf + openLen);
}

int GetSCmdCode(const char* buf, DWORD len) {
  return ReadEnclosedNumber(buf, len, zarnet::kTagSCmd, zarnet::kTagSCmdEnd);
}

int GetStatusCode(const char* buf, DWORD len) {
  return ReadEnclosedNumber(buf, len, zarnet::kTagStatus, zarnet::kTagStatusEnd);
}

BOOL GetDataFromRspBuff(const char* buf, DWORD len, const char** data, DWORD* dataLen) {
  if (buf == nullptr) return FALSE;
  const char* openAt = Find(buf, len, zarnet::kTagData);
  if (openAt == nullptr) return FALSE;
  const char* first = openAt + zarnet::kTagData.size();
  const char* closeAt = Find(buf, len, zarnet::kTagDataEnd, static_cast<DWORD>(first - buf));
  if (closeAt == nullptr) return FALSE;
  if (data != nullptr) *data = first;
  if (dataLen != nullptr) *dataLen = static_cast<DWORD>(closeAt - first);
  return TRUE;
}

BOOL IsRspComplete(const char* buf, DWORD len) {
  return buf != nullptr && Find(buf, len, zarnet::kTagRspEnd) != nullptr;
}
