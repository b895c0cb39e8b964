#include "admin/resources/AdminResources.h"

namespace {

// Before main: the program's strings and pictures are there for every static object and every test.
[[maybe_unused]] const bool kRegistered = (RegisterAdminResources(), true);

}  // namespace
