// The registry hive's file form (the base layer's hive, base/hive_format.h), under the registry's name.
#pragma once
#include "base/hive_format.h"

namespace tavrin::registry {
namespace hive = base::hive;
}  // namespace tavrin::registry
