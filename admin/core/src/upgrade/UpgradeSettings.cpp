#include "admin/upgrade/UpgradeSettings.h"

#include <mutex>

namespace {

struct SettingsSlot {
  std::mutex lock;
  UpgradeSettings settings;
};

SettingsSlot& Slot() {
  static auto* slot = new SettingsSlot;
  return *slot;
}

}  // namespace

UpgradeSettings GetUpgradeSettings() {
  std::lock_guard guard(Slot().lock);
  return Slot().settings;
}

void SetUpgradeSettings(const UpgradeSettings& settings) {
  std::lock_guard guard(Slot().lock);
  Slot().settings = settings;
}
