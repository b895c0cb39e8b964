// Values in the machine's settings hive (HKEY_LOCAL_MACHINE), set as an installer or an administrator
// would, for tests that run without the user-mode registry. Keys on the way are made. True when written.
#pragma once
#include <cstdint>
#include <string>

namespace tavrin::test {

// keyPath below HKEY_LOCAL_MACHINE, its names joined by backslashes.
bool SetMachineDword(const std::string& keyPath, const std::string& name, uint32_t value);
// Stored with its terminating NUL.
bool SetMachineString(const std::string& keyPath, const std::string& name, const std::string& text);

}  // namespace tavrin::test
