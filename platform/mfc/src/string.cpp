#include "mfc/string.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "mfc/resource.h"

int CString::Compare(LPCSTR other) const { return std::strcmp(text_.c_str(), other ? other : ""); }

int CString::CompareNoCase(LPCSTR other) const { return strcasecmp(text_.c_str(), other ? other : ""); }

CString CString::Left(int count) const {
  count = std::clamp(count, 0, GetLength());
  return CString(text_.substr(0, static_cast<size_t>(count)));
}

CString CString::Right(int count) const {
  count = std::clamp(count, 0, GetLength());
  return CString(text_.substr(text_.size() - static_cast<size_t>(count)));
}

CString CString::Mid(int first) const { return Mid(first, GetLength()); }

CString CString::Mid(int first, int count) const {
  first = std::clamp(first, 0, GetLength());
  count = std::clamp(count, 0, GetLength() - first);
  return CString(text_.substr(static_cast<size_t>(first), static_cast<size_t>(count)));
}

int CString::Find(char ch, int start) const {
  if (start < 0 || start > GetLength()) return -1;
  size_t at = text_.find(ch, static_cast<size_t>(start));
  return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::Find(LPCSTR sub, int start) const {
  if (!sub || start < 0 || start > GetLength()) return -1;
  size_t at = text_.find(sub, static_cast<size_t>(start));
  return at == std::string::npos ? -1 : static_cast<int>(at);
}

int CString::ReverseFind(char ch) const {
  size_t at = text_.rfind(ch);
  return at == std::string::npos ? -1 : static_cast<int>(at);
}

CString& CString::MakeUpper() {
  for (char& c : text_) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return *this;
}

CString& CString::MakeLower() {
  for (char& c : text_) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return *this;
}

CString& CString::TrimLeft() {
  size_t first = 0;
  while (first < text_.size() && std::isspace(static_cast<unsigned char>(text_[first]))) ++first;
  text_.erase(0, first);
  return *this;
}

CString& CString::TrimRight() {
  while (!text_.empty() && std::isspace(static_cast<unsigned char>(text_.back()))) text_.pop_back();
  return *this;
}

int CString::Replace(LPCSTR oldText, LPCSTR newText) {
  if (!oldText || !*oldText) return 0;
  const std::string from(oldText), to(newText ? newText : "");
  int count = 0;
  for (size_t at = text_.find(from); at != std::string::npos; at = text_.find(from, at + to.size())) {
    text_.replace(at, from.size(), to);
    ++count;
  }
  return count;
}

int CString::Remove(char ch) {
  size_t before = text_.size();
  text_.erase(std::remove(text_.begin(), text_.end(), ch), text_.end());
  return static_cast<int>(before - text_.size());
}

void CString::Format(LPCSTR format, ...) {
  va_list args;
  va_start(args, format);
  FormatV(format, args);
  va_end(args);
}

void CString::FormatV(LPCSTR format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (length < 0) {
    text_.clear();
    return;
  }
  std::string out(static_cast<size_t>(length) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, args);
  out.resize(static_cast<size_t>(length));
  text_ = std::move(out);
}

BOOL CString::LoadString(UINT id) {
  const char* text = mfc::FindString(id);
  if (!text) return FALSE;
  text_ = text;
  return TRUE;
}

LPSTR CString::GetBuffer(int minLength) {
  if (minLength > GetLength()) text_.resize(static_cast<size_t>(minLength));
  return text_.data();
}

void CString::ReleaseBuffer(int newLength) {
  if (newLength < 0) newLength = static_cast<int>(strnlen(text_.c_str(), text_.size()));
  text_.resize(static_cast<size_t>(std::min(newLength, GetLength())));
}
