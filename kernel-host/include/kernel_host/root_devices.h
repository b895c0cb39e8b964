// The store of root-enumerated device nodes that the kernel host creates at start: <sysroot>/devices/root,
// one hardware ID a line. Without the file, the bus enumerator "root\vizorido" counts as installed.
#pragma once
#include <filesystem>
#include <string>
#include <vector>

namespace tavrin::kernel_host {

std::filesystem::path RootDevicesFile();
std::vector<std::string> LoadRootDevices();
void SaveRootDevices(const std::vector<std::string>& hardwareIds);

}  // namespace tavrin::kernel_host
