// A plain timing program: an install writing many values into one registry key, one RegSetValueEx each,
// as the installer does. Prints the time per value at two sizes and their ratio: a cost per value that grows
// with the key's size makes the ratio grow with it (1 means the per-value cost does not depend on it).
//   bench_registry [small large]   (defaults 1000 8000)
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "win32/registry.h"
#include "win32/sysroot.h"

namespace {

double SecondsPerValue(int values) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "tavrin-bench-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) return -1;
  tavrin::sysroot::SetRoot(tmpl);
  HKEY key = nullptr;
  RegCreateKeyEx(HKEY_LOCAL_MACHINE, "SOFTWARE\\Bench", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < values; ++i) {
    DWORD value = static_cast<DWORD>(i);
    RegSetValueEx(key, ("Value" + std::to_string(i)).c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4);
  }
  std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  RegCloseKey(key);
  std::error_code ec;
  std::filesystem::remove_all(tmpl, ec);
  return took.count() / values;
}

}  // namespace

int main(int argc, char** argv) {
  int small = argc > 2 ? std::atoi(argv[1]) : 1000;
  int large = argc > 2 ? std::atoi(argv[2]) : 8000;
  double a = SecondsPerValue(small), b = SecondsPerValue(large);
  std::printf("%d values: %.1f us/value; %d values: %.1f us/value (%.2f s in all); ratio %.2f (for %.0fx the values)\n",
              small, a * 1e6, large, b * 1e6, b * large, b / a, static_cast<double>(large) / small);
  return 0;
}
