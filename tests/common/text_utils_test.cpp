#include "common/text_utils.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

// The items of a list, after checking that the counter agrees with them.
Strings ItemsOf(const StringList& list) {
  EXPECT_EQ(list.count, list.items.size());
  return list.items;
}

TEST(SplitString, RunsOfSeparatorsMergeAndNoFieldIsEmpty) {
  struct Case {
    std::string line;
    std::string separators;
    std::size_t start;
    Strings fields;
  };
  const Case cases[] = {
      {"a\t\t0", "\t", 0, {"a", "0"}},
      {"a\t0", "\t", 0, {"a", "0"}},
      {"\tx\t", "\t", 0, {"x"}},
      {"", "\t", 0, {}},
      {"\t\t", "\t", 0, {}},
      {"a,b;c", ",;", 0, {"a", "b", "c"}},
      {"a,,;b", ";,,", 0, {"a", "b"}},
      {"ab cd", " ", 1, {"b", "cd"}},
      {"x\t1\r", "\t", 0, {"x", "1\r"}},
      {"Peak score\tLn(Peak score)", "\t", 0, {"Peak score", "Ln(Peak score)"}},
      {"a b\tc", "", 0, {"a b\tc"}},
      {"a b\tc", "", 2, {"b\tc"}},
      {"abc", "\t", 3, {}},
      {"abc", "\t", std::string::npos, {}},
      {"\t\t\ty", "\t", 1, {"y"}},
      {std::string("a\0b", 3), std::string(1, '\0'), 0, {"a", "b"}},
      {"\xC3\xA9\tz", "\t", 0, {"\xC3\xA9", "z"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line + " / start " + std::to_string(c.start));
    EXPECT_EQ(ItemsOf(SplitString(c.line, c.separators, c.start)), c.fields);
  }
}

TEST(SplitStringInto, ReusedListHoldsOnlyTheLatestLine) {
  StringList fields;
  EXPECT_EQ(SplitStringInto("a\tb\tc\td", "\t", 0, fields), 4u);
  EXPECT_EQ(SplitStringInto("a long field beyond the small-string buffer\t9", "\t", 0, fields), 2u);
  EXPECT_EQ(ItemsOf(fields), (Strings{"a long field beyond the small-string buffer", "9"}));
  EXPECT_EQ(SplitStringInto("\t", "\t", 0, fields), 0u);
  EXPECT_EQ(ItemsOf(fields), Strings{});
}

TEST(GetLineUntil, CutsAtTheFirstStopCharacterAndReportsTheEnd) {
  std::istringstream in("name\tvalue\nplain\r\nlast");
  std::string line = "old";
  ASSERT_TRUE(GetLineUntil(in, line, "\t\n\r"));
  EXPECT_EQ(line, "name");
  ASSERT_TRUE(GetLineUntil(in, line, "\t\n\r"));
  EXPECT_EQ(line, "plain");
  ASSERT_TRUE(GetLineUntil(in, line, "\t\n\r"));
  EXPECT_EQ(line, "last");
  EXPECT_FALSE(GetLineUntil(in, line, "\t\n\r"));
  EXPECT_EQ(line, "");

  // With the line feed alone as stop set nothing is cut: the carriage return stays.
  std::istringstream crlf("x\t1\r\n\n");
  ASSERT_TRUE(GetLineUntil(crlf, line, "\n"));
  EXPECT_EQ(line, "x\t1\r");
  ASSERT_TRUE(GetLineUntil(crlf, line, "\n"));
  EXPECT_EQ(line, "");
  EXPECT_FALSE(GetLineUntil(crlf, line, "\n"));

  std::istringstream whole("a,b");
  ASSERT_TRUE(GetLineUntil(whole, line, ""));
  EXPECT_EQ(line, "a,b");
}

TEST(ExtractToken, TakesFromTheFirstLetterToTheFirstStopCharacter) {
  const std::string stop = ".,|-+\t\n\r";
  EXPECT_EQ(ExtractToken(">>seq12.fa|x", "is_symbol", stop), "seq12");
  EXPECT_EQ(ExtractToken("123", "is_symbol", stop), "");
  EXPECT_EQ(ExtractToken("abc", "IS_SYMBOL", stop), "");
  EXPECT_EQ(ExtractToken("abc", "is_symbol ", stop), "");
  EXPECT_EQ(ExtractToken("12chr1", "is_symbol", stop), "chr1");
  EXPECT_EQ(ExtractToken("\xC3\xA9t\xC3\xA9-x", "is_symbol", stop), "t\xC3\xA9");
  EXPECT_EQ(ExtractToken("a b", "is_symbol", ""), "a b");
}

TEST(ExtractBetween, TextAfterTheOpenerUpToACloserTwoPastIt) {
  EXPECT_EQ(ExtractBetween("(x)", "(", ")", 0), "x");
  EXPECT_EQ(ExtractBetween("()", "(", ")", 0), ")");
  EXPECT_EQ(ExtractBetween("a(", "(", ")", 0), "");
  EXPECT_EQ(ExtractBetween("(abc", "(", ")", 0), "abc");
  EXPECT_EQ(ExtractBetween("[a](bc)", "([", ")]", 3), "bc");
  EXPECT_EQ(ExtractBetween("(a)(b)", "(", ")", 1), "b");
  EXPECT_EQ(ExtractBetween("(a)", "(", ")", 3), "");
  EXPECT_EQ(ExtractBetween("(a)", "(", ")", std::string::npos), "");
  EXPECT_EQ(ExtractBetween("abc", "(", ")", 0), "");
}

TEST(IsNumber, LooksAtCharactersOnly) {
  for (const char* text : {"-", ".", "-.", "1.2.3", "0", "-12", "3.25", "007"}) {
    EXPECT_TRUE(IsNumber(text)) << text;
  }
  for (const char* text : {"", "+1", " 1", "1 ", "1e5", "1\r", "--1", "1-", "NA", "nan"}) {
    EXPECT_FALSE(IsNumber(text)) << text;
  }
  for (const char* text : {"-12", "0", "-", "0012"}) EXPECT_TRUE(IsInteger(text)) << text;
  for (const char* text : {"", "1.5", ".", "+3", "1e2"}) EXPECT_FALSE(IsInteger(text)) << text;
}

TEST(EqualNoCase, IgnoresAsciiCaseOnly) {
  EXPECT_TRUE(EqualNoCase("Acgt", "aCGT"));
  EXPECT_TRUE(EqualNoCase("", ""));
  EXPECT_FALSE(EqualNoCase("a", "ab"));
  EXPECT_FALSE(EqualNoCase("a[", "A{"));  // '[' and '{' lie 32 apart but are no letters
  EXPECT_TRUE(EqualNoCase("\xC3\xA9", "\xC3\xA9"));
  EXPECT_FALSE(EqualNoCase("\xC3\xA9", "\xC3\x89"));
}

TEST(ListOperations, KeepOrderAndRepetitionsOfTheFirstList) {
  const Strings a = {"x", "y", "x", "Z", "w"};
  const Strings b = {"x", "z", "w"};
  EXPECT_EQ(Difference(a, b), (Strings{"y", "Z"}));
  EXPECT_EQ(Intersection(a, b), (Strings{"x", "x", "w"}));
  EXPECT_EQ(Difference(a, {}), a);
  EXPECT_EQ(Intersection({}, b), Strings{});
  EXPECT_TRUE(IsAbsent(b, "Z"));
  EXPECT_FALSE(IsAbsent(b, "z"));
  EXPECT_TRUE(IsAbsent({}, ""));
}

TEST(StringList, AddUniqueAddsEachNewItemOnceAndIndexOfFindsTheFirst) {
  StringList list;
  EXPECT_EQ(list.IndexOf("x"), -1);
  EXPECT_EQ(list.AddUnique({"x", "y", "x"}), 0);
  EXPECT_EQ(ItemsOf(list), (Strings{"x", "y"}));
  EXPECT_EQ(list.AddUnique({"Y", "y", "z", ""}), 0);
  EXPECT_EQ(ItemsOf(list), (Strings{"x", "y", "Y", "z", ""}));
  EXPECT_EQ(list.IndexOf("z"), 3);
  EXPECT_EQ(list.IndexOf(""), 4);
  EXPECT_EQ(list.IndexOf("X"), -1);

  const StringList copy = list;
  AppendItem(list) = "more";
  EXPECT_EQ(copy.count, 5u);
  EXPECT_EQ(list.count, 6u);
  EXPECT_EQ(list.IndexOf("more"), 5);
}

}  // namespace
