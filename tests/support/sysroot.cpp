#include "testsupport/sysroot.h"

#include <stdlib.h>

#include "base/hive.h"
#include "base/sysroot.h"

namespace tavrin::test {

std::filesystem::path MakeTempDir(const char* prefix) {
  std::string tmpl = (std::filesystem::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  return tmpl;
}

void SysrootTest::SetUp() {
  root_ = MakeTempDir("tavrin-sysroot-");
  base::sysroot::SetRoot(root_);
}

void SysrootTest::TearDown() {
  base::hive::Commit();  // nothing of this process's is left to write into the folder as it goes
  std::error_code ec;
  std::filesystem::remove_all(root_, ec);
}

}  // namespace tavrin::test
