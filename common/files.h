#pragma once

#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>

// Opening inputs and telling files apart, the same way for every reader and both drivers.

// Opens `file_name` for reading; false when it cannot be opened or names a folder, which
// opens on this platform but reads as nothing.
[[nodiscard]] bool OpenForReading(std::ifstream& in, const std::string& file_name);

// True when `file_name` names an existing file that is neither a regular file nor a folder
// (a FIFO, a device), following links.
bool IsSpecialFile(const std::string& file_name);

// The size of the regular file that `file_name` names, 0 for anything else (a pipe,
// standard input, a missing file).
std::uint64_t RegularFileSize(const std::string& file_name);

// True when `file_name` names a folder (following links).
bool IsFolder(const std::string& file_name);

// The file that a name finally stands for, following links, dangling ones too (whose
// target does not exist yet); gives up after a loop's worth of hops.
std::filesystem::path FollowLinks(const std::string& file_name);

// True when both names lead to one existing file (by any path, link or hard link).
bool SameExistingFile(const std::string& first_name, const std::string& second_name);

// True when both names lead to one file, whether or not it exists yet: the same existing
// file (by device and inode, whatever path, link or hard link leads there), or, where it
// does not exist yet, paths that resolve to the same place after following every link.
bool SameDestination(const std::string& first_name, const std::string& second_name);

// True when the input `input_name` is the existing file that `file_name` leads to (by any
// path, link or hard link). For "-", standard input, that is when standard input is that
// file, redirected from it; a pipe or a terminal is no file.
bool InputIsFile(const std::string& input_name, const std::string& file_name);

// What is wrong with writing `output_name` when `input_name` is one of the run's inputs
// ("-" standing for standard input): empty when they are different files, else the text of
// the refusal (which names the input), so that an input is never truncated by its own run.
std::optional<std::string> OverwritesInput(const std::string& output_name,
                                           const std::string& input_name);
