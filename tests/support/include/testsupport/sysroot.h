// A fresh sysroot for each test: a temporary directory that the platform layer is pointed at.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>

namespace tavrin::test {

class SysrootTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  const std::filesystem::path& root() const { return root_; }

 private:
  std::filesystem::path root_;
};

// Makes an empty temporary directory (removed by the caller).
std::filesystem::path MakeTempDir(const char* prefix);

}  // namespace tavrin::test
