// The windowing layer's part in the system layer (winsys): threads get message queues, device notices reach
// windows, the program's own resources answer for its version block, and "msimg32.dll" is a built-in
// module. The library's link options make every program that links it take this file in.
#include "win32/system_hooks.h"

#include "queue_internal.h"
#include "win32/gdi.h"
#include "win32/resources.h"
#include "win32/user.h"

namespace {

template <class F>
void* Proc(F* f) {
  return reinterpret_cast<void*>(f);
}

}  // namespace

extern "C" void tavrin_win32_system_hooks(tavrin::system_hooks::Hooks* hooks) {
  hooks->threadStarts = [] { tavrin::core::CurrentQueue(); };
  hooks->threadEnds = [] { tavrin::core::ReleaseCurrentQueue(); };
  hooks->isWindow = &IsWindow;
  hooks->postMessage = &PostMessage;
  hooks->ownVersionInfoSize = &tavrin::res::OwnVersionInfoSize;
  hooks->ownVersionInfo = &tavrin::res::OwnVersionInfo;
  hooks->queryOwnVersionValue = &tavrin::res::QueryOwnVersionValue;
  hooks->builtinModules.push_back({"msimg32.dll",
                                   {{"GradientFill", Proc(&::GradientFill)},
                                    {"AlphaBlend", Proc(&::AlphaBlend)},
                                    {"TransparentBlt", Proc(&::TransparentBlt)}}});
}
