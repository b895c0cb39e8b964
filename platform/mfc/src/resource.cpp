#include "mfc/resource.h"

#include <map>
#include <mutex>
#include <string>

#include "win32/resources.h"

namespace mfc {
namespace {

struct StringTable {
  std::mutex mutex;
  std::map<UINT, std::string> texts;
};

StringTable& Table() {
  static StringTable table;
  return table;
}

}  // namespace

void RegisterStrings(std::initializer_list<StringResource> strings) {
  StringTable& table = Table();
  std::lock_guard lock(table.mutex);
  for (const StringResource& entry : strings) table.texts[entry.id] = entry.text ? entry.text : "";
}

const char* FindString(UINT id) {
  StringTable& table = Table();
  std::lock_guard lock(table.mutex);
  auto it = table.texts.find(id);
  if (it == table.texts.end()) {
    // Not registered here: the program's string-table resource, kept once read.
    char text[4096];
    if (::LoadString(nullptr, id, text, sizeof text) <= 0) return nullptr;
    it = table.texts.emplace(id, text).first;
  }
  // std::map nodes are stable, so the text outlives the lock (entries are replaced only at start-up).
  return it->second.c_str();
}

}  // namespace mfc
