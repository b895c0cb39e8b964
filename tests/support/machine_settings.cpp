#include "testsupport/machine_settings.h"

#include "base/hive.h"

namespace tavrin::test {
namespace {

namespace hive = base::hive;

bool SetMachineValue(const std::string& keyPath, const std::string& name, uint32_t type, std::string data) {
  hive::KeyPath path{hive::kMachineRoot};
  size_t start = 0;
  while (start <= keyPath.size()) {
    size_t end = keyPath.find('\\', start);
    if (end == std::string::npos) end = keyPath.size();
    if (end > start) path.push_back(keyPath.substr(start, end - start));
    start = end + 1;
  }
  auto outcome = hive::Change([&](hive::Key& root) {
    hive::Key* key = &root;
    for (const std::string& part : path) key = &key->EnsureChild(part);
    key->SetValue(name, type, std::move(data));
    return true;
  });
  return outcome.commit == hive::ChangeResult::Commit::kDone;
}

}  // namespace

bool SetMachineDword(const std::string& keyPath, const std::string& name, uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
  return SetMachineValue(keyPath, name, hive::kNumber, std::move(bytes));
}

bool SetMachineString(const std::string& keyPath, const std::string& name, const std::string& text) {
  return SetMachineValue(keyPath, name, hive::kString, text + '\0');
}

}  // namespace tavrin::test
