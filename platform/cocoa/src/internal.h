// Helpers shared by the files of the Cocoa stand-in.
#pragma once
#include <string>

namespace cocoa {

double Now();  // seconds since 1970

}  // namespace cocoa
