#include "text_util.h"

namespace zarnet::sim::text {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

bool ParseNumber(std::string_view text, uint64_t max, uint64_t* out) {
  text = Trim(text);
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  uint64_t value = 0;
  for (char c : text) {
    unsigned digit;
    if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
    else if (base == 16 && c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
    else if (base == 16 && c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
    else return false;
    if (value > (max - digit) / base) return false;
    value = value * base + digit;
  }
  *out = value;
  return true;
}

bool ParseBool(std::string_view text, bool* out) {
  text = Trim(text);
  if (text == "1" || text == "yes" || text == "true" || text == "on") {
    *out = true;
    return true;
  }
  if (text == "0" || text == "no" || text == "false" || text == "off") {
    *out = false;
    return true;
  }
  return false;
}

}  // namespace zarnet::sim::text
