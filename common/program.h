#pragma once

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// The front door that the programs share: help, version and usage, broken pipes, and the
// failures that a run cannot report where they happen (memory running out, a thread that
// cannot be started), each mapped to one message and exit code 1.

// What the front door knows of a program.
struct ProgramFace {
  std::string_view name;                   // "Sitecount": the version line, thread failures
  void (*write_usage)(std::ostream& out);  // the usage text, ending in a line feed
  std::size_t positional_arguments;        // fewer (but one or more): usage text, exit 1
};

// Where a run stands, kept up to date by the run for the out-of-memory message: the file it
// is working on, and what it is doing with it.
struct RunPlace {
  const std::string* file_name = nullptr;
  std::string_view activity = "reading";
};

// The body of a program: its arguments (program name excluded, at least as many as the
// face asks for) and its place; returns the exit code.
using ProgramRun = std::function<int(const std::vector<std::string>& args, RunPlace& place)>;

// Runs a program on its arguments (program name excluded) and returns its exit code. No
// argument, or "--help" or "-h" alone: the usage text on standard output, 0. "--version"
// alone: "NAME VERSION", 0. Fewer arguments than the face asks for: the usage text on
// standard error, 1. Otherwise a write to a closed pipe fails instead of ending the
// process, and `run` runs with its place at the first argument, being read. Memory
// running out ("NAME: out of memory while reading it; nothing was written", NAME and
// "reading" from the place) and a thread that cannot be started end the run with one line
// on standard error and 1; the run's outputs, which put themselves in place only when
// complete, are left as they were.
int RunProgram(const ProgramFace& face, const std::vector<std::string>& args,
               const ProgramRun& run);
