#include "mfc/resource.h"

#include <map>
#include <mutex>
#include <string>

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
  // std::map nodes are stable, so the text outlives the lock (entries are replaced only at start-up).
  return it == table.texts.end() ? nullptr : it->second.c_str();
}

}  // namespace mfc
