#include "Presence.h"

#include <cstdarg>
#include <cstring>


namespace presence {

CString AddressOf(const char (&serverIp)[28]) {
  return CString(serverIp, static_cast<int>(strnlen(serverIp, sizeof serverIp)));
}

bool SameAddress(const char (&serverIp)[28], LPCSTR address) {
  return strncmp(serverIp, address, sizeof serverIp) == 0;
}

void ReportMappingStatus(CTavrinAdminDoc& doc, const CString& text) {
  doc.SetStatusText(text);
  doc.AddDeviceMappingLog(text);
}

CString LoadFormatted(UINT id, ...) {
  CString format;
  format.LoadString(id);
  va_list args;
  va_start(args, id);
  CString text;
  text.FormatV(format, args);
  va_end(args);
  return text;
}

}  // namespace presence
