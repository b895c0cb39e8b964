#include "win32/system_hooks.h"

// Defined by the windowing layer; null in a program without it.
extern "C" void tavrin_win32_system_hooks(tavrin::system_hooks::Hooks* hooks) __attribute__((weak));

namespace tavrin::system_hooks {

const Hooks& Installed() {
  static const Hooks hooks = [] {
    Hooks filled;
    if (tavrin_win32_system_hooks) tavrin_win32_system_hooks(&filled);
    return filled;
  }();
  return hooks;
}

}  // namespace tavrin::system_hooks
