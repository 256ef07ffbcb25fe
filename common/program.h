#pragma once

#include <cstddef>
#include <functional>
#include <limits>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The front door that the programs share: help, version and usage, options, broken pipes,
// and the failures that a run cannot report where they happen (memory running out, a thread
// that cannot be started), each mapped to one message and exit code 1.

// An option that a program takes before its positional arguments, always with a value:
// "-j 4", "-j4", "--threads 4" and "--threads=4" are the same.
struct ProgramOption {
  std::string_view short_name;  // "-j", or empty for none
  std::string_view long_name;   // "--threads": the name the run asks for the value by
  std::string_view value_name;  // "N", as --help shows it
  std::string_view help;        // what it does, one line for --help
  bool whole_number = false;    // the value must be a whole number from 1 up
};

// The option values of one run, by long name; an option given twice keeps the last value.
class ProgramOptions {
 public:
  std::optional<std::string_view> Value(std::string_view long_name) const;
  // The value of a whole-number option, checked by the front door.
  std::optional<std::size_t> Number(std::string_view long_name) const;
  void Set(std::string_view long_name, std::string value);

 private:
  std::vector<std::pair<std::string_view, std::string>> values_;
};

// No positional argument names the table that the run writes.
inline constexpr std::size_t kNoTableArgument = std::numeric_limits<std::size_t>::max();

// What the front door knows of a program.
struct ProgramFace {
  std::string_view name;                        // "Sitecount": the version line, thread failures
  void (*write_usage)(std::ostream& out);       // the usage text, ending in a line feed
  std::size_t positional_arguments;             // fewer (but one or more): usage text, exit 1
  std::span<const ProgramOption> options = {};  // taken before the positional arguments
  // The positional argument (from 0) that names the table the run writes. When it is "-"
  // or names the pipe or file that standard output already is, the progress lines go to
  // standard error, so that standard output carries the table alone.
  std::size_t table_argument = kNoTableArgument;
};

// Where a run stands, kept up to date by the run for the out-of-memory message: the file it
// is working on, and what it is doing with it.
struct RunPlace {
  const std::string* file_name = nullptr;
  std::string_view activity = "reading";
};

// The body of a program: its positional arguments (program name and options excluded, at
// least as many as the face asks for) and its place; returns the exit code.
using ProgramRun = std::function<int(const std::vector<std::string>& args, RunPlace& place)>;
// The same with the values of the options that the face declares.
using ProgramRunWithOptions = std::function<int(const std::vector<std::string>& args,
                                                const ProgramOptions& options, RunPlace& place)>;

// Runs a program on its arguments (program name excluded) and returns its exit code. No
// argument at all: the usage text on standard output, 0. Then the face's options are taken
// from the front of the arguments, up to the first argument that is none of them ("--"
// ends them too); a value that is missing or not what the option takes: one line on
// standard error, 1. "--help" or "-h" alone: the usage text and, after it, the options, on
// standard output, 0. "--version" alone: "NAME VERSION", 0. Fewer arguments than the face
// asks for: the usage text on standard error, 1. Otherwise a write to a closed pipe fails
// instead of ending the process, and `run` runs with its place at the first argument,
// being read. Memory running out ("NAME: out of memory while reading it; nothing was
// written", NAME and "reading" from the place) and a thread that cannot be started end the
// run with one line on standard error and 1; the run's outputs, which put themselves in
// place only when complete, are left as they were.
int RunProgram(const ProgramFace& face, const std::vector<std::string>& args,
               const ProgramRunWithOptions& run);
int RunProgram(const ProgramFace& face, const std::vector<std::string>& args,
               const ProgramRun& run);

// Where the progress lines of the running program go: standard output, or standard error
// when standard output carries the table.
std::ostream& ProgressStream();

// The number of threads that a "--threads" option asks for, else the environment variable
// `variable` when it holds a whole number from 1 up, else `fallback`; at most 256.
std::size_t RequestedThreads(const ProgramOptions& options, const char* variable,
                             std::size_t fallback);
