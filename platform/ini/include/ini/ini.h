// INI text: "[section]" lines open sections and "key=value" lines follow; names compare without case,
// blanks around names and values are dropped (quotes are kept), lines that start with ';' or hold no '='
// carry no key, and the first of two equal keys or sections counts. A document keeps every line as it
// was, so that it is written back with only the changes made to it.
#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavrin::ini {

struct Line {
  std::string text;   // as in the file, without its line end
  std::string key;    // trimmed; empty for a line that holds no key (blank, comment, no '=')
  std::string value;  // trimmed, quotes kept
};

struct Section {
  std::string name;  // trimmed text between '[' and ']'
  std::string header;
  std::vector<Line> lines;
};

struct Document {
  bool byteOrderMark = false;  // the text began with a UTF-8 byte-order mark; written back as it was
  std::vector<Line> preamble;  // lines before the first section
  std::vector<Section> sections;
};

// Any bytes: no size limit, no line limit.
Document Parse(std::string_view bytes);
std::string Serialize(const Document& document);  // CR LF line ends

// The first section of that name, and the first line of a section with that key.
const Section* FindSection(const Document& document, std::string_view name);
Section* FindSection(Document& document, std::string_view name);
const Line* FindKey(const Section& section, std::string_view key);
Line* FindKey(Section& section, std::string_view key);
// The value of a key of a section, as written (quotes kept); none when either is missing.
std::optional<std::string> Value(const Document& document, std::string_view section, std::string_view key);

}  // namespace tavrin::ini
