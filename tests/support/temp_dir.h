#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace test_support {

// A fresh folder for one test, removed with everything in it when the test ends.
class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "motif_workflow_test_XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Makes `dir` the working folder for the lifetime of this object.
class ScopedWorkingDir {
 public:
  explicit ScopedWorkingDir(const std::filesystem::path& dir)
      : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~ScopedWorkingDir() { std::filesystem::current_path(previous_); }
  ScopedWorkingDir(const ScopedWorkingDir&) = delete;
  ScopedWorkingDir& operator=(const ScopedWorkingDir&) = delete;

 private:
  std::filesystem::path previous_;
};

// A fixture with a fresh folder per test, removed with everything in it when the test ends.
class TempFolderTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return folder_.File(name); }
  const std::filesystem::path& Folder() const { return folder_.path(); }

 private:
  TempDir folder_;
};

inline void WriteFile(const std::string& file_name, const std::string& content) {
  std::ofstream out(file_name, std::ios::binary);
  out << content;
}

inline std::string ReadFile(const std::string& file_name) {
  std::ifstream in(file_name, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

}  // namespace test_support
