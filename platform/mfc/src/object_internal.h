// Objects made from their runtime class.
#pragma once
#include "mfc/object.h"

namespace mfc::detail {

// A new object of `type` as a T; null, with nothing left behind, for no class or one that makes no T.
template <class T>
T* CreateAs(const CRuntimeClass* type) {
  CObject* object = type ? type->CreateObject() : nullptr;
  auto* made = dynamic_cast<T*>(object);
  if (!made) delete object;
  return made;
}

}  // namespace mfc::detail
