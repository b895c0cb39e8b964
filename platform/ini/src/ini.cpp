#include "ini/ini.h"

#include "base/files.h"

namespace tavrin::ini {
namespace {

using base::files::EqualsNoCase;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view s) {
  const char* blanks = " \t\r\v\f";
  size_t first = s.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

Line MakeLine(std::string_view text) {
  Line line{std::string(text), {}, {}};
  std::string_view t = Trim(text);
  if (t.empty() || t[0] == ';') return line;
  size_t equals = t.find('=');
  if (equals == std::string_view::npos) return line;
  line.key = Trim(t.substr(0, equals));
  line.value = Trim(t.substr(equals + 1));
  return line;
}

}  // namespace

Document Parse(std::string_view bytes) {
  Document doc;
  if (bytes.substr(0, 3) == kByteOrderMark) {
    doc.byteOrderMark = true;
    bytes.remove_prefix(3);
  }
  while (!bytes.empty()) {
    size_t end = bytes.find('\n');
    std::string_view text = bytes.substr(0, end);
    bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
    while (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    std::string_view t = Trim(text);
    if (!t.empty() && t[0] == '[') {
      t.remove_prefix(1);
      doc.sections.push_back(Section{std::string(Trim(t.substr(0, t.find(']')))), std::string(text), {}});
    } else {
      (doc.sections.empty() ? doc.preamble : doc.sections.back().lines).push_back(MakeLine(text));
    }
  }
  return doc;
}

std::string Serialize(const Document& document) {
  std::string out = document.byteOrderMark ? std::string(kByteOrderMark) : std::string();
  for (const Line& line : document.preamble) out += line.text + "\r\n";
  for (const Section& section : document.sections) {
    out += section.header + "\r\n";
    for (const Line& line : section.lines) out += line.text + "\r\n";
  }
  return out;
}

const Section* FindSection(const Document& document, std::string_view name) {
  for (const Section& s : document.sections)
    if (EqualsNoCase(s.name, name)) return &s;
  return nullptr;
}

Section* FindSection(Document& document, std::string_view name) {
  return const_cast<Section*>(FindSection(static_cast<const Document&>(document), name));
}

const Line* FindKey(const Section& section, std::string_view key) {
  for (const Line& line : section.lines)
    if (!line.key.empty() && EqualsNoCase(line.key, key)) return &line;
  return nullptr;
}

Line* FindKey(Section& section, std::string_view key) {
  return const_cast<Line*>(FindKey(static_cast<const Section&>(section), key));
}

std::optional<std::string> Value(const Document& document, std::string_view section, std::string_view key) {
  const Section* s = FindSection(document, section);
  const Line* line = s ? FindKey(*s, key) : nullptr;
  if (!line) return std::nullopt;
  return line->value;
}

}  // namespace tavrin::ini
