#include "common/program.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

void WriteTestUsage(std::ostream& out) { out << "usage\n"; }

constexpr ProgramOption kTestOptions[] = {
    {"-j", "--threads", "N", "threads", true},
    {"", "--label", "TEXT", "a label", false},
};

TEST(RunProgram, TakesDeclaredOptionsBeforeThePositionalArguments) {
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::vector<std::string> positional;
    std::string threads;  // empty: not given
    std::string label;
  };
  const std::vector<Case> cases = {
      {{"-j", "4", "a", "b"}, 0, {"a", "b"}, "4", ""},
      {{"-j4", "a", "b"}, 0, {"a", "b"}, "4", ""},
      {{"--threads=4", "--threads", "2", "a", "b"}, 0, {"a", "b"}, "2", ""},
      {{"--label=x y", "a", "b", "-j", "3"}, 0, {"a", "b", "-j", "3"}, "", "x y"},
      // Not a declared option: the first positional argument, as a file may be named.
      {{"-x", "b"}, 0, {"-x", "b"}, "", ""},
      {{"--threadsX", "b"}, 0, {"--threadsX", "b"}, "", ""},
      {{"--", "-j", "b"}, 0, {"-j", "b"}, "", ""},
      {{"-", "b"}, 0, {"-", "b"}, "", ""},
      {{"-j", "0", "a", "b"}, 1, {}, "", ""},
      {{"-j", "2x", "a", "b"}, 1, {}, "", ""},
      {{"a", "b", "-j"}, 0, {"a", "b", "-j"}, "", ""},
      {{"-j"}, 1, {}, "", ""},
      {{"-j", "2", "a"}, 1, {}, "", ""},  // one positional argument short: usage
  };
  constexpr ProgramFace kFace{"Test", WriteTestUsage, 2, kTestOptions};
  for (const Case& test_case : cases) {
    std::vector<std::string> seen;
    std::string threads;
    std::string label;
    testing::internal::CaptureStderr();
    const int exit_code = RunProgram(
        kFace, test_case.args,
        [&](const std::vector<std::string>& args, const ProgramOptions& options, RunPlace&) {
          seen = args;
          if (const auto value = options.Value("--threads")) threads = *value;
          if (const auto value = options.Value("--label")) label = *value;
          return 0;
        });
    testing::internal::GetCapturedStderr();
    const std::string shown = test_case.args.front() + " ...";
    EXPECT_EQ(exit_code, test_case.exit_code) << shown;
    EXPECT_EQ(seen, test_case.positional) << shown;
    EXPECT_EQ(threads, test_case.threads) << shown;
    EXPECT_EQ(label, test_case.label) << shown;
  }
}

TEST(RequestedThreads, OptionThenEnvironmentThenFallbackCappedAt256) {
  ProgramOptions none;
  ProgramOptions many;
  many.Set("--threads", "100000");
  ::setenv("PROGRAM_TEST_THREADS", "3", 1);
  EXPECT_EQ(RequestedThreads(none, "PROGRAM_TEST_THREADS", 7), 3u);
  EXPECT_EQ(RequestedThreads(many, "PROGRAM_TEST_THREADS", 7), 256u);
  ::setenv("PROGRAM_TEST_THREADS", "three", 1);
  EXPECT_EQ(RequestedThreads(none, "PROGRAM_TEST_THREADS", 7), 7u);
  ::unsetenv("PROGRAM_TEST_THREADS");
  EXPECT_EQ(RequestedThreads(none, nullptr, 7), 7u);
}

}  // namespace
