#include "common/text_utils.h"

#include <algorithm>
#include <array>

#include "common/counted_append.h"

namespace {

// Membership of a character in a set given as a string, one table lookup per character.
class CharSet {
 public:
  explicit CharSet(std::string_view chars) {
    for (const char c : chars) member_[static_cast<unsigned char>(c)] = true;
  }
  bool Contains(char c) const { return member_[static_cast<unsigned char>(c)]; }

 private:
  std::array<bool, 256> member_{};
};

// The splitting loop, for any separator test. Each field runs from the first non-separator
// to the next separator; the scan resumes one past that separator.
template <typename IsSeparator>
std::uint32_t SplitWith(std::string_view line, std::size_t start, StringList& fields,
                        IsSeparator is_separator) {
  // The strings already in the list are overwritten in place and only the surplus is
  // dropped at the end, so a list reused line after line keeps its strings' storage.
  std::vector<std::string>& items = fields.items;
  std::size_t used = 0;
  const std::size_t length = line.size();
  std::size_t pos = start;
  while (pos < length) {
    while (pos < length && is_separator(line[pos])) ++pos;
    if (pos == length) break;
    std::size_t end = pos + 1;
    while (end < length && !is_separator(line[end])) ++end;
    if (used < items.size()) {
      items[used].assign(line.data() + pos, end - pos);
    } else {
      items.emplace_back(line.data() + pos, end - pos);
    }
    ++used;
    pos = end + 1;
  }
  items.resize(used);
  fields.count = static_cast<std::uint32_t>(used);
  return fields.count;
}

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The shared test of IsNumber and IsInteger: an optional '-', then only allowed characters.
bool HoldsOnly(std::string_view text, std::string_view allowed) {
  if (text.empty()) return false;
  if (text.front() == '-') text.remove_prefix(1);
  return text.find_first_not_of(allowed) == std::string_view::npos;
}

}  // namespace

std::string& AppendItem(StringList& list) { return AppendCounted(list.count, list.items); }

std::int32_t StringList::IndexOf(std::string_view item) const {
  for (std::uint32_t index = 0; index < count; ++index) {
    if (items[index] == item) return static_cast<std::int32_t>(index);
  }
  return -1;
}

int StringList::AddUnique(const std::vector<std::string>& list) {
  for (const std::string& element : list) {
    if (IndexOf(element) < 0) AppendItem(*this) = element;
  }
  return 0;
}

StringList SplitString(std::string_view line, std::string_view separators, std::size_t start) {
  StringList fields;
  SplitStringInto(line, separators, start, fields);
  return fields;
}

std::uint32_t SplitStringInto(std::string_view line, std::string_view separators, std::size_t start,
                              StringList& fields) {
  // Tab-separated tables split on one character: a plain comparison beats the table lookup.
  if (separators.size() == 1) {
    const char separator = separators.front();
    return SplitWith(line, start, fields, [separator](char c) { return c == separator; });
  }
  const CharSet set(separators);
  return SplitWith(line, start, fields, [&set](char c) { return set.Contains(c); });
}

std::istream& GetLineUntil(std::istream& in, std::string& line, std::string_view stop_set) {
  // getline leaves the string untouched when the stream is already at its end.
  line.clear();
  std::getline(in, line);
  const std::size_t cut =
      stop_set.size() == 1 ? line.find(stop_set.front()) : line.find_first_of(stop_set);
  if (cut != std::string::npos) line.resize(cut);
  return in;
}

std::string ExtractToken(std::string_view line, std::string_view mode, std::string_view stop_set) {
  if (mode != "is_symbol") return {};
  const auto letter = std::find_if(line.begin(), line.end(), IsAsciiLetter);
  if (letter == line.end()) return {};
  std::string_view token = line.substr(static_cast<std::size_t>(letter - line.begin()));
  const std::size_t cut = token.find_first_of(stop_set);
  if (cut != std::string_view::npos) token = token.substr(0, cut);
  return std::string(token);
}

std::string ExtractBetween(std::string_view line, std::string_view openers,
                           std::string_view closers, std::size_t start) {
  if (start >= line.size()) return {};
  const std::size_t opener = line.find_first_of(openers, start);
  if (opener == std::string_view::npos) return {};
  // The closer search starts one past the text's first character, so a character right
  // after the opener always belongs to the text, even when it is a closer.
  std::size_t closer = line.find_first_of(closers, opener + 2);
  if (closer == std::string_view::npos) closer = line.size();
  return std::string(line.substr(opener + 1, closer - (opener + 1)));
}

bool IsNumber(std::string_view text) { return HoldsOnly(text, "0123456789."); }

bool IsInteger(std::string_view text) { return HoldsOnly(text, "0123456789"); }

bool EqualNoCase(std::string_view first, std::string_view second) {
  if (first.size() != second.size()) return false;
  for (std::size_t index = 0; index < first.size(); ++index) {
    if (AsciiLower(first[index]) != AsciiLower(second[index])) return false;
  }
  return true;
}

bool IsAbsent(const std::vector<std::string>& list, std::string_view item) {
  return std::find(list.begin(), list.end(), item) == list.end();
}

std::vector<std::string> Difference(const std::vector<std::string>& a,
                                    const std::vector<std::string>& b) {
  std::vector<std::string> result;
  for (const std::string& element : a) {
    if (IsAbsent(b, element)) result.push_back(element);
  }
  return result;
}

std::vector<std::string> Intersection(const std::vector<std::string>& a,
                                      const std::vector<std::string>& b) {
  std::vector<std::string> result;
  for (const std::string& element : a) {
    if (!IsAbsent(b, element)) result.push_back(element);
  }
  return result;
}
