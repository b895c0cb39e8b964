// CString: an ANSI string with the operations the programs use. Values, not shared buffers.
// Pass a CString to printf-style functions as (LPCSTR)s or s.GetString().
#pragma once
#include <cstdarg>
#include <string>

#include "win32/types.h"

class CString {
 public:
  CString() = default;
  CString(LPCSTR text) : text_(text ? text : "") {}  // NOLINT: implicit as in the programs
  CString(LPCSTR text, int length) : text_(text ? std::string(text, static_cast<size_t>(length)) : "") {}
  CString(char ch, int repeat = 1) : text_(repeat > 0 ? static_cast<size_t>(repeat) : 0, ch) {}
  CString(const std::string& text) : text_(text) {}  // NOLINT

  int GetLength() const { return static_cast<int>(text_.size()); }
  BOOL IsEmpty() const { return text_.empty(); }
  void Empty() { text_.clear(); }
  LPCSTR GetString() const { return text_.c_str(); }
  operator LPCSTR() const { return text_.c_str(); }  // NOLINT
  const std::string& str() const { return text_; }

  char GetAt(int index) const { return text_.at(static_cast<size_t>(index)); }
  char operator[](int index) const { return GetAt(index); }
  void SetAt(int index, char ch) { text_.at(static_cast<size_t>(index)) = ch; }

  CString& operator=(LPCSTR text) { text_ = text ? text : ""; return *this; }
  CString& operator+=(const CString& other) { text_ += other.text_; return *this; }
  CString& operator+=(LPCSTR text) { if (text) text_ += text; return *this; }
  CString& operator+=(char ch) { text_ += ch; return *this; }

  int Compare(LPCSTR other) const;
  int CompareNoCase(LPCSTR other) const;

  CString Left(int count) const;
  CString Right(int count) const;
  CString Mid(int first) const;
  CString Mid(int first, int count) const;
  // Index of the first match at or after start, or -1.
  int Find(char ch, int start = 0) const;
  int Find(LPCSTR sub, int start = 0) const;
  int ReverseFind(char ch) const;
  CString& MakeUpper();
  CString& MakeLower();
  CString& TrimLeft();
  CString& TrimRight();
  CString& Trim() { return TrimRight().TrimLeft(); }
  int Replace(LPCSTR oldText, LPCSTR newText);
  int Remove(char ch);

  void Format(LPCSTR format, ...) __attribute__((format(printf, 2, 3)));
  void FormatV(LPCSTR format, va_list args);
  // Loads a text of the program's string table; FALSE (and the string unchanged) when it has none.
  BOOL LoadString(UINT id);

  // Direct access for APIs that write into a char buffer: ReleaseBuffer ends the text at its NUL
  // (or at newLength) afterwards.
  LPSTR GetBuffer(int minLength);
  void ReleaseBuffer(int newLength = -1);

  friend CString operator+(const CString& a, const CString& b) { return CString(a.text_ + b.text_); }
  friend CString operator+(const CString& a, LPCSTR b) { return CString(a.text_ + (b ? b : "")); }
  friend CString operator+(LPCSTR a, const CString& b) { return CString((a ? a : "") + b.text_); }
  friend CString operator+(const CString& a, char b) { return CString(a.text_ + b); }

  friend bool operator==(const CString& a, const CString& b) { return a.text_ == b.text_; }
  friend bool operator==(const CString& a, LPCSTR b) { return a.Compare(b) == 0; }
  friend bool operator<(const CString& a, const CString& b) { return a.text_ < b.text_; }

 private:
  std::string text_;
};
