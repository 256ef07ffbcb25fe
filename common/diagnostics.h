#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/line_error.h"

// Every message that the programs write to standard error has its exact text in one
// function here. The Print functions write one line and return, for the drivers, which
// return their exit code; the Exit functions write the same line and end the process with
// exit code 1, for the library operations whose contract is to report and stop.

// Text from an input as a message may quote it: every byte that is not a printable ASCII
// character is shown escaped (\t, \r, \n, otherwise \xNN), so no control byte or escape
// sequence reaches the terminal.
std::string Printable(std::string_view text);

// "Can't open NAME file." (the wording with the full stop).
void PrintCannotOpen(const std::string& file_name);
[[noreturn]] void ExitCannotOpen(const std::string& file_name);

// "Can't open NAME file" (the utility library's wording, without the full stop).
void PrintOpenFailure(const std::string& file_name);
[[noreturn]] void ReportOpenFailure(const std::string& file_name);

// "NAME:LINE: what", or "NAME: what" for a problem of the whole file (line number 0).
std::string BadInputText(const std::string& file_name, std::size_t line_number,
                         const std::string& what);
void PrintBadInput(const std::string& file_name, std::size_t line_number, const std::string& what);
void PrintBadInput(const std::string& file_name, const std::string& what);
void PrintBadInput(const std::string& file_name, const LineError& error);
[[noreturn]] void ExitBadInput(const std::string& file_name, std::size_t line_number,
                               const std::string& what);
[[noreturn]] void ExitBadInput(const std::string& file_name, const LineError& error);

// "NAME: could not be written in full (is the disk full?)": an output was opened but a
// write, flush or close failed, so a truncated file never passes for a finished run.
void PrintWriteFailed(const std::string& file_name);
[[noreturn]] void ExitWriteFailed(const std::string& file_name);

// "NAME: could not be read to its end": a read failed before the end of the input.
void PrintReadFailed(const std::string& file_name);

// "holds binary data (a NUL byte); is it compressed?": a NUL byte in an input read as text.
std::string BinaryDataText();

// "standard input can be only one of the two INPUTS": "-" named for two inputs of a run.
std::string StandardInputTwiceText(std::string_view inputs);

// "NAME: out of memory while ACTIVITY it; nothing was written", ACTIVITY being what the
// run was doing with the file ("reading", "fitting").
void PrintOutOfMemory(const std::string& file_name, std::string_view activity);
// "NAME: out of memory while reading record N; nothing was written".
void PrintOutOfMemoryAtRecord(const std::string& file_name, std::uint64_t record);
// "NAME:LINE: out of memory while reading this line; nothing was written".
void PrintOutOfMemoryAtLine(const std::string& file_name, std::size_t line_number);

// "PROGRAM: could not start a thread (REASON); the output file was left as it was": the
// system refused a thread (a limit on processes, say), and the run stopped before its
// output was put in place.
void PrintThreadStartFailed(std::string_view program_name, const std::string& reason);

// "PROGRAM: option OPTION needs a value (VALUE_NAME)": an option was the last argument.
void PrintOptionWithoutValue(std::string_view program_name, std::string_view option,
                             std::string_view value_name);
// "PROGRAM: OPTION takes WHAT, not 'VALUE'" (VALUE shown printable).
void PrintBadOptionValue(std::string_view program_name, std::string_view option,
                         std::string_view value, std::string_view what);

// "data row has N tab-separated fields, but the C coefficients (intercept included) serve
// at most C + 1": a presence row too wide for the coefficient table.
std::string TooManyFieldsText(std::size_t field_count, std::size_t coefficient_count);

// "Problem of memory allocation.", then exit code 1 (the integer matrices).
[[noreturn]] void ExitOutOfMemory();

// "Where is NAME?", then exit code 1 (the token list loader's missing file).
[[noreturn]] void ExitWhereIs(const std::string& file_name);
