#include <cstdio>

#include "wincommon/guid.h"

namespace tavrin {

std::string GuidToString(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

bool ParseGuid(const std::string& text, GUID* guid) {
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
  unsigned int d1, d2, d3, b[8];
  char tail;
  if (std::sscanf(text.c_str(), "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}%c", &d1, &d2, &d3, &b[0], &b[1], &b[2], &b[3],
                  &b[4], &b[5], &b[6], &b[7], &tail) != 11)
    return false;
  guid->Data1 = d1;
  guid->Data2 = static_cast<WORD>(d2);
  guid->Data3 = static_cast<WORD>(d3);
  for (int i = 0; i < 8; ++i) guid->Data4[i] = static_cast<BYTE>(b[i]);
  return true;
}

}  // namespace tavrin
