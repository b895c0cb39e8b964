#include "mfc/time.h"

#include <cstring>
#include <string>

namespace {

CString Formatted(const struct tm& fields, LPCSTR format) {
  if (!format || !*format) return CString();
  // strftime reports no room and an empty result alike: the buffer grows a few times, then gives up.
  std::string out(64 + 4 * strlen(format), '\0');
  for (int attempt = 0; attempt < 4; ++attempt, out.resize(out.size() * 4)) {
    const size_t written = strftime(out.data(), out.size(), format, &fields);
    if (written > 0) return CString(out.c_str(), static_cast<int>(written));
  }
  return CString();
}

}  // namespace

CTime::CTime(int year, int month, int day, int hour, int minute, int second, int dst) {
  struct tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  fields.tm_isdst = dst < 0 ? -1 : dst;
  const time_t made = mktime(&fields);
  time_ = made == static_cast<time_t>(-1) ? 0 : made;
}

CTime CTime::GetCurrentTime() { return CTime(time(nullptr)); }

struct tm CTime::Local() const {
  struct tm fields{};
  localtime_r(&time_, &fields);
  return fields;
}

CString CTime::Format(LPCSTR format) const { return Formatted(Local(), format); }

CString CTime::FormatGmt(LPCSTR format) const {
  struct tm fields{};
  gmtime_r(&time_, &fields);
  return Formatted(fields, format);
}
