// Text into the fixed-size character fields of records that are kept, posted or sent as they are.
#pragma once
#include <cstddef>
#include <cstring>

// Copies text into a field of `size` bytes: cut to size - 1 characters, always terminated, and the rest of
// the field zeroed, so the field's bytes depend on the text alone. A null text leaves the field empty.
inline void CopyFixedText(char* field, size_t size, const char* text) {
  if (size == 0) return;
  const size_t length = text ? strnlen(text, size - 1) : 0;
  if (length) memcpy(field, text, length);
  memset(field + length, 0, size - length);
}

template <size_t N>
void CopyFixedText(char (&field)[N], const char* text) {
  CopyFixedText(field, N, text);
}
