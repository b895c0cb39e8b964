// The user side's way to the first device interface of a class, as the tests reach the drivers.
#pragma once
#include <string>

#include "win32/setupapi.h"

namespace tavrin::test {

// The path of the first present interface of the class, or "" when there is none.
std::string FirstInterfacePath(const GUID& interfaceClass);

}  // namespace tavrin::test
