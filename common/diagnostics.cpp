#include "common/diagnostics.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <system_error>

void ExitCannotOpen(const std::string& file_name) {
  std::cerr << "Can't open " << file_name << " file." << std::endl;
  std::exit(1);
}

void ReportOpenFailure(const std::string& file_name) {
  std::cerr << "Can't open " << file_name << " file" << std::endl;
  std::exit(1);
}

void ExitBadInput(const std::string& file_name, std::size_t line_number,
                  const std::string& what) {
  std::cerr << file_name << ':' << line_number << ": " << what << std::endl;
  std::exit(1);
}

void ExitBadInput(const std::string& file_name, const std::string& what) {
  std::cerr << file_name << ": " << what << std::endl;
  std::exit(1);
}

void ExitWriteFailed(const std::string& file_name) {
  ExitBadInput(file_name, "could not be written in full (is the disk full?)");
}

bool OpenForReading(std::ifstream& in, const std::string& file_name) {
  std::error_code error;
  if (std::filesystem::is_directory(file_name, error)) return false;
  in.open(file_name);
  return static_cast<bool>(in);
}

bool SameFile(const std::string& first_name, const std::string& second_name) {
  // Errors (a missing file, a directory that does not exist) mean "not the same file":
  // a file that does not exist yet cannot be one of the inputs.
  std::error_code error;
  return std::filesystem::equivalent(first_name, second_name, error) && !error;
}

void ExitIfSameFile(const std::string& output_name, const std::string& input_name) {
  if (SameFile(output_name, input_name)) {
    ExitBadInput(output_name, "is the input file " + input_name +
                                  "; refusing to overwrite it, choose another output file");
  }
}
