#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/temp_dir.h"

// A fixture with a fresh folder per test, removed with everything in it when the test ends.
class TempFolderTest : public ::testing::Test {
 protected:
  void SetUp() override { folder_ = std::make_unique<test_support::TempDir>(); }
  void TearDown() override { folder_.reset(); }

  std::string Path(const std::string& name) const { return folder_->File(name); }

  static std::string ReadFile(const std::string& path) { return test_support::ReadFile(path); }
  static void WriteFile(const std::string& path, const std::string& content) {
    test_support::WriteFile(path, content);
  }

 private:
  std::unique_ptr<test_support::TempDir> folder_;
};
