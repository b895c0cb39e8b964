// For tests whose person acts from a thread of its own: a call run on the main run loop, waited for.
#pragma once
#include <future>

#include "cocoa/Foundation.h"

namespace tavrinmac::test {

// Runs the call on the main thread and waits for its answer. Never from the main thread itself (nor from
// a condition the main thread checks): it would wait for itself.
template <class F>
auto OnMain(F call) -> decltype(call()) {
  std::promise<decltype(call())> answer;
  auto answered = answer.get_future();
  NSRunLoop::mainRunLoop()->Enqueue([&] { answer.set_value(call()); }, 0);
  return answered.get();
}

}  // namespace tavrinmac::test
