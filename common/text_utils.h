#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

// String operations of the utility library. They work on bytes, treat only ASCII letters as
// letters, never print and never fail. A "set" argument (separators, stop characters,
// openers, closers) is read as a set of characters: order and repetitions do not matter.

// A counted list of strings. `count` always equals the number of `items`: every operation
// that appends raises `count` and resizes `items` in the same step.
struct StringList {
  std::uint32_t count = 0;
  std::vector<std::string> items;

  // Index of the first item equal to `item` (exact, case-sensitive), or -1.
  std::int32_t IndexOf(std::string_view item) const;

  // Appends, in order, each element of `list` that the list does not hold yet; an element
  // repeated within `list` is added once, at its first place. Returns 0.
  int AddUnique(const std::vector<std::string>& list);

  // Loaders and writer (table_utils.cpp). Loaders append to the items already there.
  //
  // One item per line, each line cut at its first tab or carriage return. The test for
  // end of file comes before each read, so a final line end (or an empty file) adds one
  // last empty item. Returns 0; a file that cannot be opened ends the process through
  // ReportOpenFailure.
  int LoadLines(const std::string& file_name);
  // The same with the caller's stop set instead of tab, line feed and carriage return.
  int LoadLinesUntil(const std::string& file_name, std::string_view stop_set);
  // One name-like token per non-empty line (see ExtractToken). A line without a token adds
  // an empty item and prints "<count> line doesn't contain the substring."; the result is
  // then 1, otherwise 0. A missing file prints "Where is <name>?" and exits with code 1.
  int LoadTokens(const std::string& file_name);
  // Writes the items one per line, replacing the file. Returns 0; a file that cannot be
  // created is silently not written.
  int WriteLines(const std::string& file_name) const;
};

// Appends one empty item to `list`, keeping `count` in step, and returns it for filling.
std::string& AppendItem(StringList& list);

// The fields of `line` from index `start` on: maximal runs of characters that are not in
// `separators`. Runs of separators count as one, separators at either end are ignored and
// no field is ever empty; with an empty separator set the rest of the line is one field.
StringList SplitString(std::string_view line, std::string_view separators, std::size_t start);

// SplitString into a list that the caller keeps across lines: the strings already in
// `fields` are overwritten in place and the surplus dropped, so that splitting line after
// line allocates next to nothing. Returns the number of fields.
std::uint32_t SplitStringInto(std::string_view line, std::string_view separators, std::size_t start,
                              StringList& fields);

// Reads the next line (up to "\n", which is consumed and not stored) into `line`, then cuts
// it at its first character in `stop_set`. At end of input `line` is empty and the stream
// fails, so `while (GetLineUntil(in, line, "\n"))` reads every line.
std::istream& GetLineUntil(std::istream& in, std::string& line, std::string_view stop_set);

// With `mode` exactly "is_symbol": the text from the first ASCII letter of `line` up to (not
// including) the first following character in `stop_set`. Empty when there is no letter or
// for any other mode.
std::string ExtractToken(std::string_view line, std::string_view mode, std::string_view stop_set);

// The text after the first opener found at or after `start`, up to the first closer found
// from two characters after the opener on (or to the end of the line). Empty when `start`
// is at or past the end or no opener follows it.
std::string ExtractBetween(std::string_view line, std::string_view openers,
                           std::string_view closers, std::size_t start);

// True when `text` is not empty and, after one optional leading '-', holds only digits and
// points. A character test only: '-', '.' and '1.2.3' pass; '+1', ' 1' and '1e5' do not.
bool IsNumber(std::string_view text);
// The same with digits only.
bool IsInteger(std::string_view text);

// True when both texts have the same length and agree letter by letter ignoring ASCII case.
bool EqualNoCase(std::string_view first, std::string_view second);

// True when no element of `list` equals `item` exactly.
bool IsAbsent(const std::vector<std::string>& list, std::string_view item);

// The elements of `a`, in order and with repetitions, that do not occur in `b`.
std::vector<std::string> Difference(const std::vector<std::string>& a,
                                    const std::vector<std::string>& b);
// The elements of `a`, in order and with repetitions, that occur in `b`.
std::vector<std::string> Intersection(const std::vector<std::string>& a,
                                      const std::vector<std::string>& b);
