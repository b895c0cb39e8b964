// GUIDs: interface classes, device classes and the like, as user mode and the kernel share them.
#pragma once
#include <string>

#include "wincommon/types.h"

struct GUID {
  DWORD Data1;
  WORD Data2;
  WORD Data3;
  BYTE Data4[8];
};
using LPGUID = GUID*;
using LPCGUID = const GUID*;
using REFGUID = const GUID&;

constexpr bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
inline BOOL IsEqualGUID(REFGUID a, REFGUID b) { return a == b; }

// Defines a named GUID constant.
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
  inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

namespace tavrin {
// "{D35F7840-6A0C-11D2-B841-00C04FAD5171}" (upper-case hex, with braces).
std::string GuidToString(const GUID& guid);
// Parses the braced form (either case); false when the text is not one.
bool ParseGuid(const std::string& text, GUID* guid);
}  // namespace tavrin
