#include "common/diagnostics.h"

#include <cstdlib>
#include <iostream>

std::string Printable(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string shown;
  shown.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      shown += c;
    } else if (c == '\t') {
      shown += "\\t";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (c == '\n') {
      shown += "\\n";
    } else {
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 0xF];
    }
  }
  return shown;
}

void PrintCannotOpen(const std::string& file_name) {
  std::cerr << "Can't open " << file_name << " file." << std::endl;
}

void ExitCannotOpen(const std::string& file_name) {
  PrintCannotOpen(file_name);
  std::exit(1);
}

void PrintOpenFailure(const std::string& file_name) {
  std::cerr << "Can't open " << file_name << " file" << std::endl;
}

void ReportOpenFailure(const std::string& file_name) {
  PrintOpenFailure(file_name);
  std::exit(1);
}

std::string BadInputText(const std::string& file_name, std::size_t line_number,
                         const std::string& what) {
  if (line_number == 0) return file_name + ": " + what;
  return file_name + ':' + std::to_string(line_number) + ": " + what;
}

std::string BinaryDataText() { return "holds binary data (a NUL byte); is it compressed?"; }

std::string StandardInputTwiceText(std::string_view inputs) {
  return "standard input can be only one of the two " + std::string(inputs);
}

void PrintBadInput(const std::string& file_name, std::size_t line_number, const std::string& what) {
  std::cerr << BadInputText(file_name, line_number, what) << std::endl;
}

void PrintBadInput(const std::string& file_name, const std::string& what) {
  PrintBadInput(file_name, 0, what);
}

void PrintBadInput(const std::string& file_name, const LineError& error) {
  PrintBadInput(file_name, error.line_number, error.what);
}

void ExitBadInput(const std::string& file_name, std::size_t line_number, const std::string& what) {
  PrintBadInput(file_name, line_number, what);
  std::exit(1);
}

void ExitBadInput(const std::string& file_name, const LineError& error) {
  ExitBadInput(file_name, error.line_number, error.what);
}

void PrintWriteFailed(const std::string& file_name) {
  PrintBadInput(file_name, "could not be written in full (is the disk full?)");
}

void ExitWriteFailed(const std::string& file_name) {
  PrintWriteFailed(file_name);
  std::exit(1);
}

void PrintReadFailed(const std::string& file_name) {
  PrintBadInput(file_name, "could not be read to its end");
}

void PrintOutOfMemory(const std::string& file_name, std::string_view activity) {
  PrintBadInput(file_name,
                "out of memory while " + std::string(activity) + " it; nothing was written");
}

void PrintOutOfMemoryAtRecord(const std::string& file_name, std::uint64_t record) {
  PrintBadInput(file_name, "out of memory while reading record " + std::to_string(record) +
                               "; nothing was written");
}

void PrintOutOfMemoryAtLine(const std::string& file_name, std::size_t line_number) {
  PrintBadInput(file_name, line_number,
                "out of memory while reading this line; nothing was written");
}

void PrintThreadStartFailed(std::string_view program_name, const std::string& reason) {
  std::cerr << program_name << ": could not start a thread (" << reason
            << "); the output file was left as it was" << std::endl;
}

void PrintOptionWithoutValue(std::string_view program_name, std::string_view option,
                             std::string_view value_name) {
  std::cerr << program_name << ": option " << Printable(option) << " needs a value (" << value_name
            << ")" << std::endl;
}

void PrintBadOptionValue(std::string_view program_name, std::string_view option,
                         std::string_view value, std::string_view what) {
  std::cerr << program_name << ": " << option << " takes " << what << ", not '" << Printable(value)
            << "'" << std::endl;
}

std::string TooManyFieldsText(std::size_t field_count, std::size_t coefficient_count) {
  return "data row has " + std::to_string(field_count) + " tab-separated fields, but the " +
         std::to_string(coefficient_count) + " coefficients (intercept included) serve at most " +
         std::to_string(coefficient_count + 1);
}

void ExitOutOfMemory() {
  std::cerr << "Problem of memory allocation." << std::endl;
  std::exit(1);
}

void ExitWhereIs(const std::string& file_name) {
  std::cerr << "Where is " << file_name << "?" << std::endl;
  std::exit(1);
}
