#include "common/files.h"

#include <filesystem>
#include <fstream>
#include <system_error>

bool IsFolder(const std::string& file_name) {
  std::error_code error;
  return std::filesystem::is_directory(file_name, error);
}

bool OpenForReading(std::ifstream& in, const std::string& file_name) {
  if (IsFolder(file_name)) return false;
  in.open(file_name);
  return static_cast<bool>(in);
}

bool SameExistingFile(const std::string& first_name, const std::string& second_name) {
  // Errors (a missing file, a folder that does not exist) mean "not the same file".
  std::error_code error;
  return std::filesystem::equivalent(first_name, second_name, error) && !error;
}

bool SameDestination(const std::string& first_name, const std::string& second_name) {
  // The resolved paths tell whether a file yet to be made is one that exists.
  if (SameExistingFile(first_name, second_name)) return true;
  std::error_code first_error;
  std::error_code second_error;
  const auto first = std::filesystem::weakly_canonical(first_name, first_error);
  const auto second = std::filesystem::weakly_canonical(second_name, second_error);
  return !first_error && !second_error && first == second;
}

std::optional<std::string> OverwritesInput(const std::string& output_name,
                                           const std::string& input_name) {
  if (!SameDestination(output_name, input_name)) return std::nullopt;
  return "is the input file " + input_name +
         "; refusing to overwrite it, choose another output file";
}
