// CTime and CTimeSpan: seconds since 1970 (UTC) with the calendar fields and Format of local time.
#pragma once
#include <ctime>

#include "mfc/string.h"

class CTimeSpan {
 public:
  CTimeSpan() = default;
  explicit CTimeSpan(time_t seconds) : span_(seconds) {}
  CTimeSpan(long days, int hours, int minutes, int seconds)
      : span_(((static_cast<time_t>(days) * 24 + hours) * 60 + minutes) * 60 + seconds) {}

  time_t GetTotalSeconds() const { return span_; }
  time_t GetTotalMinutes() const { return span_ / 60; }
  time_t GetTotalHours() const { return span_ / 3600; }
  time_t GetDays() const { return span_ / 86400; }
  int GetHours() const { return static_cast<int>(GetTotalHours() - GetDays() * 24); }
  int GetMinutes() const { return static_cast<int>(GetTotalMinutes() - GetTotalHours() * 60); }
  int GetSeconds() const { return static_cast<int>(GetTotalSeconds() - GetTotalMinutes() * 60); }

  friend bool operator==(const CTimeSpan&, const CTimeSpan&) = default;
  friend auto operator<=>(const CTimeSpan&, const CTimeSpan&) = default;

 private:
  time_t span_ = 0;
};

class CTime {
 public:
  CTime() = default;
  explicit CTime(time_t time) : time_(time) {}
  // A local date and time; dst -1 lets the calendar decide whether summer time applies. An impossible
  // date gives the time 0.
  CTime(int year, int month, int day, int hour, int minute, int second, int dst = -1);

  static CTime GetCurrentTime();

  time_t GetTime() const { return time_; }
  // Local calendar fields: month 1-12, day 1-31, day of week 1 (Sunday) to 7.
  int GetYear() const { return Local().tm_year + 1900; }
  int GetMonth() const { return Local().tm_mon + 1; }
  int GetDay() const { return Local().tm_mday; }
  int GetHour() const { return Local().tm_hour; }
  int GetMinute() const { return Local().tm_min; }
  int GetSecond() const { return Local().tm_sec; }
  int GetDayOfWeek() const { return Local().tm_wday + 1; }

  // The local time written by strftime's conversions ("%d-%m-%Y : %H:%M:%S"); FormatGmt in UTC.
  CString Format(LPCSTR format) const;
  CString FormatGmt(LPCSTR format) const;

  CTimeSpan operator-(const CTime& other) const { return CTimeSpan(time_ - other.time_); }
  CTime operator+(const CTimeSpan& span) const { return CTime(time_ + span.GetTotalSeconds()); }
  CTime operator-(const CTimeSpan& span) const { return CTime(time_ - span.GetTotalSeconds()); }
  CTime& operator+=(const CTimeSpan& span) { time_ += span.GetTotalSeconds(); return *this; }
  CTime& operator-=(const CTimeSpan& span) { time_ -= span.GetTotalSeconds(); return *this; }
  friend bool operator==(const CTime&, const CTime&) = default;
  friend auto operator<=>(const CTime&, const CTime&) = default;

 private:
  struct tm Local() const;
  time_t time_ = 0;
};
