// INI text, as the profile functions and the simulator read it (the configuration file carries a server's
// text): parsing any bytes must hold, and every section, key and value must read back the same once
// written out.
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "ini/ini.h"

namespace {

using Entries = std::vector<std::tuple<std::string, std::string, std::string>>;

Entries KeysOf(const tavrin::ini::Document& document) {
  Entries entries;
  for (const tavrin::ini::Section& section : document.sections) {
    entries.emplace_back(section.name, "", "");
    for (const tavrin::ini::Line& line : section.lines) {
      if (!line.key.empty()) entries.emplace_back(section.name, line.key, line.value);
    }
  }
  return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tavrin::ini::Document document = tavrin::ini::Parse(std::string_view(reinterpret_cast<const char*>(data), size));
  tavrin::ini::Document reread = tavrin::ini::Parse(tavrin::ini::Serialize(document));
  if (KeysOf(reread) != KeysOf(document)) __builtin_trap();
  return 0;
}
