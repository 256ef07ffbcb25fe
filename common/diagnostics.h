#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>

// Reports on standard error that `file_name` cannot be opened, in the wording with the
// full stop ("Can't open x file."), and ends the process with exit code 1.
[[noreturn]] void ExitCannotOpen(const std::string& file_name);

// The same report in the utility library's wording, without the full stop
// ("Can't open x file"), then exit code 1.
[[noreturn]] void ReportOpenFailure(const std::string& file_name);

// Reports input that cannot honestly be processed as one line on standard error,
// "file:line: what", and ends the process with exit code 1.
[[noreturn]] void ExitBadInput(const std::string& file_name, std::size_t line_number,
                               const std::string& what);

// The same for a problem that belongs to the whole file rather than to one line: "file: what".
[[noreturn]] void ExitBadInput(const std::string& file_name, const std::string& what);

// Reports that `file_name` was opened but could not be written in full (a full disk, a
// device that takes nothing) and ends the process with exit code 1, so a truncated output
// never passes for a finished run.
[[noreturn]] void ExitWriteFailed(const std::string& file_name);

// Opens `file_name` for reading; false when it cannot be opened or names a directory, which
// opens on this platform but reads as nothing.
bool OpenForReading(std::ifstream& in, const std::string& file_name);

// Refuses to write `output_name` when it names the same file as `input_name` (by path, link
// or hard link): reports "file: what" and ends the process with exit code 1, so that an
// input is never truncated by its own run.
void ExitIfSameFile(const std::string& output_name, const std::string& input_name);

// True when both names lead to one existing file.
bool SameFile(const std::string& first_name, const std::string& second_name);
