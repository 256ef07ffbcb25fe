#include "common/files.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <system_error>

#include "common/input_source.h"

bool IsFolder(const std::string& file_name) {
  std::error_code error;
  return std::filesystem::is_directory(file_name, error);
}

std::uint64_t RegularFileSize(const std::string& file_name) {
  struct stat status {};
  if (::stat(file_name.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return 0;
  return static_cast<std::uint64_t>(status.st_size);
}

bool IsSpecialFile(const std::string& file_name) {
  std::error_code error;
  const auto status = std::filesystem::status(file_name, error);
  return !error && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
         !std::filesystem::is_directory(status);
}

bool OpenForReading(std::ifstream& in, const std::string& file_name) {
  if (IsFolder(file_name)) return false;
  in.open(file_name);
  return static_cast<bool>(in);
}

bool SameExistingFile(const std::string& first_name, const std::string& second_name) {
  // By device and inode, which also tells FIFOs and devices apart (the standard library's
  // comparison refuses those). A name that cannot be looked up is "not the same file".
  struct stat first {};
  struct stat second {};
  return ::stat(first_name.c_str(), &first) == 0 && ::stat(second_name.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool InputIsFile(const std::string& input_name, const std::string& file_name) {
  if (!IsStandardInput(input_name)) return SameExistingFile(input_name, file_name);
  // Descriptor 0 as it is open, whatever name it was opened by; only a regular file can
  // be replaced by an output.
  struct stat input {};
  struct stat file {};
  return ::fstat(0, &input) == 0 && S_ISREG(input.st_mode) &&
         ::stat(file_name.c_str(), &file) == 0 && input.st_dev == file.st_dev &&
         input.st_ino == file.st_ino;
}

std::filesystem::path FollowLinks(const std::string& file_name) {
  std::filesystem::path path(file_name);
  for (int hop = 0; hop < 40; ++hop) {
    std::error_code error;
    if (!std::filesystem::is_symlink(path, error) || error) break;
    const std::filesystem::path target = std::filesystem::read_symlink(path, error);
    if (error) break;
    path = target.is_absolute() ? target : path.parent_path() / target;
  }
  return path;
}

bool SameDestination(const std::string& first_name, const std::string& second_name) {
  if (SameExistingFile(first_name, second_name)) return true;
  // A file yet to be made, perhaps named through a dangling link: where the links lead.
  std::error_code first_error;
  std::error_code second_error;
  const auto first = std::filesystem::weakly_canonical(FollowLinks(first_name), first_error);
  const auto second = std::filesystem::weakly_canonical(FollowLinks(second_name), second_error);
  return !first_error && !second_error && first == second;
}

std::optional<std::string> OverwritesInput(const std::string& output_name,
                                           const std::string& input_name) {
  if (IsStandardInput(input_name)) {
    if (!InputIsFile(input_name, output_name)) return std::nullopt;
  } else if (!SameDestination(output_name, input_name)) {
    return std::nullopt;
  }
  const std::string shown =
      IsStandardInput(input_name) ? input_name + " (standard input)" : input_name;
  return "is the input file " + shown + "; refusing to overwrite it, choose another output file";
}
