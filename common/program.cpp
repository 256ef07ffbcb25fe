#include "common/program.h"

#include <malloc.h>
#include <pthread.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdlib>
#include <iostream>
#include <new>
#include <stdexcept>
#include <system_error>

#include "common/diagnostics.h"
#include "common/output_file.h"

namespace {

constexpr std::size_t kMostThreads = 256;

std::ostream* progress_stream = &std::cout;

// A whole number from 1 up, digits only, as a count of threads or rows is written.
std::optional<std::size_t> WholeNumber(std::string_view text) {
  std::size_t number = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, number);
  if (text.empty() || error != std::errc() || stop != end || number == 0) return std::nullopt;
  return number;
}

// True when `file_name` is "-" or names the pipe, socket or file that standard output is
// already open on. A terminal or /dev/null keeps the progress lines where they were.
bool IsStandardOutput(const std::string& file_name) {
  if (file_name == "-") return true;
  struct stat output {};
  struct stat named {};
  if (::fstat(1, &output) != 0 || ::stat(file_name.c_str(), &named) != 0) return false;
  return output.st_dev == named.st_dev && output.st_ino == named.st_ino && !S_ISCHR(output.st_mode);
}

// The option among `options` that `argument` starts, with the value written in it when it
// holds one ("-j4", "--threads=4"); null when it is none of them.
const ProgramOption* MatchOption(std::span<const ProgramOption> options,
                                 const std::string& argument,
                                 std::optional<std::string>& inline_value) {
  for (const ProgramOption& option : options) {
    for (const std::string_view name : {option.short_name, option.long_name}) {
      if (name.empty() || !argument.starts_with(name)) continue;
      if (argument.size() == name.size()) return &option;
      // A short option takes its value glued on, a long one after "=".
      const bool is_long = name.starts_with("--");
      if (is_long && argument[name.size()] != '=') continue;
      inline_value = argument.substr(name.size() + (is_long ? 1 : 0));
      return &option;
    }
  }
  return nullptr;
}

// The option names of one line of --help: "-j N, --threads N".
std::string OptionNames(const ProgramOption& option) {
  std::string names;
  if (!option.short_name.empty()) {
    names.append(option.short_name).append(" ").append(option.value_name).append(", ");
  }
  names.append(option.long_name).append(" ").append(option.value_name);
  return names;
}

void WriteOptions(std::ostream& out, std::span<const ProgramOption> options) {
  if (options.empty()) return;
  std::size_t widest = 0;
  for (const ProgramOption& option : options) {
    widest = std::max(widest, OptionNames(option).size());
  }
  out << "Options, before the file names:\n";
  for (const ProgramOption& option : options) {
    const std::string names = OptionNames(option);
    out << "  " << names << std::string(widest - names.size() + 2, ' ') << option.help << '\n';
  }
  out << std::flush;
}

// The stack of each thread that a program starts: its threads keep their data on the heap
// and call nothing deep, so half a megabyte is plenty.
constexpr std::size_t kThreadStackBytes = std::size_t{512} << 10;

// Keeps the address space near the resident memory, whatever the number of threads, for
// batch systems that cap virtual memory: one malloc arena for all threads instead of one
// reserving 64 MB (128 MB while it is made) per thread, and thread stacks of half a megabyte
// instead of the stack limit (8 MB, or 32 MB when unlimited). The threads allocate little
// after they start (their buffers are reused), so they hardly wait on the one arena.
void BoundAddressSpace() {
  ::mallopt(M_ARENA_MAX, 1);
#if defined(__SANITIZE_THREAD__)
  // ThreadSanitizer refuses threads whose stack it finds too small for its own bookkeeping.
  return;
#endif
  pthread_attr_t attributes;
  if (::pthread_getattr_default_np(&attributes) != 0) return;
  std::size_t stack_bytes = 0;
  if (::pthread_attr_getstacksize(&attributes, &stack_bytes) == 0 &&
      stack_bytes > kThreadStackBytes) {
    ::pthread_attr_setstacksize(&attributes, kThreadStackBytes);
    ::pthread_setattr_default_np(&attributes);
  }
  ::pthread_attr_destroy(&attributes);
}

}  // namespace

std::optional<std::string_view> ProgramOptions::Value(std::string_view long_name) const {
  for (auto entry = values_.rbegin(); entry != values_.rend(); ++entry) {
    if (entry->first == long_name) return entry->second;
  }
  return std::nullopt;
}

std::optional<std::size_t> ProgramOptions::Number(std::string_view long_name) const {
  const auto value = Value(long_name);
  if (!value) return std::nullopt;
  return WholeNumber(*value);
}

void ProgramOptions::Set(std::string_view long_name, std::string value) {
  values_.emplace_back(long_name, std::move(value));
}

std::ostream& ProgressStream() { return *progress_stream; }

std::size_t RequestedThreads(const ProgramOptions& options, const char* variable,
                             std::size_t fallback) {
  std::optional<std::size_t> requested = options.Number("--threads");
  if (!requested && variable != nullptr) {
    if (const char* text = std::getenv(variable)) requested = WholeNumber(text);
  }
  return std::min(requested.value_or(fallback), kMostThreads);
}

int RunProgram(const ProgramFace& face, const std::vector<std::string>& all_args,
               const ProgramRunWithOptions& run) {
  progress_stream = &std::cout;
  if (all_args.empty()) {
    face.write_usage(std::cout);
    return 0;
  }
  ProgramOptions options;
  std::size_t first_positional = 0;
  while (!face.options.empty() && first_positional < all_args.size()) {
    const std::string& argument = all_args[first_positional];
    if (argument == "--") {
      ++first_positional;
      break;
    }
    std::optional<std::string> value;
    const ProgramOption* option = MatchOption(face.options, argument, value);
    if (option == nullptr) break;
    ++first_positional;
    if (!value) {
      if (first_positional == all_args.size()) {
        PrintOptionWithoutValue(face.name, argument, option->value_name);
        return 1;
      }
      value = all_args[first_positional++];
    }
    if (option->whole_number && !WholeNumber(*value)) {
      PrintBadOptionValue(face.name, option->long_name, *value, "a whole number from 1 up");
      return 1;
    }
    options.Set(option->long_name, std::move(*value));
  }
  const std::vector<std::string> args(all_args.begin() + static_cast<long>(first_positional),
                                      all_args.end());

  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    face.write_usage(std::cout);
    WriteOptions(std::cout, face.options);
    return 0;
  }
  if (args.size() == 1 && args[0] == "--version") {
    std::cout << face.name << ' ' << MOTIF_WORKFLOW_VERSION << std::endl;
    return 0;
  }
  if (args.empty() || args.size() < face.positional_arguments) {
    face.write_usage(std::cerr);
    return 1;
  }
  if (face.table_argument < args.size() && IsStandardOutput(args[face.table_argument])) {
    progress_stream = &std::cerr;
  }
  KeepRunningWhenPipesClose();
  BoundAddressSpace();
  RunPlace place;
  place.file_name = &args[0];
  // Caught here, the failures unwind the run first: every output still open is abandoned
  // by its destructor, and its temporary file removed.
  try {
    return run(args, options, place);
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  } catch (const std::system_error& error) {
    PrintThreadStartFailed(face.name, error.code().message());
    return 1;
  }
  PrintOutOfMemory(*place.file_name, place.activity);
  return 1;
}

int RunProgram(const ProgramFace& face, const std::vector<std::string>& args,
               const ProgramRun& run) {
  return RunProgram(face, args,
                    [&run](const std::vector<std::string>& positional, const ProgramOptions&,
                           RunPlace& place) { return run(positional, place); });
}
