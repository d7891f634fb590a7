#include "core/EscapedText.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

TEST(EscapedText, ControlBytesAndBrokenUtf8AreEscapedPrintableTextIsKeptByteForByte) {
  const std::pair<std::string, std::string> cases[] = {
      {"PLACE:Queue_1 {n=\"a b\"; s=-5} ~\\", "PLACE:Queue_1 {n=\"a b\"; s=-5} ~\\"},
      {"\x1b[2J\rSIMULATION SUCCESSFUL\n", "\\x1b[2J\\x0dSIMULATION SUCCESSFUL\\x0a"},
      {"a\0b\t\x7f"s, "a\\x00b\\x09\\x7f"},
      {"K\xc3\xa4se \xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0",
       "K\xc3\xa4se \xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0"},
      // C1 controls, encoded or bare; an overlong '/', a surrogate, past U+10FFFF, cut short.
      {"\xc2\x9b[2J \x9b[2J", "\\xc2\\x9b[2J \\x9b[2J"},
      {"\xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80 \xe2\x82",
       "\\xc0\\xaf \\xed\\xa0\\x80 \\xf4\\x90\\x80\\x80 \\xe2\\x82"},
      {"\xff\xfe", "\\xff\\xfe"}};
  for (const auto& [text, shown] : cases) EXPECT_EQ(escapedText(text), shown) << shown;
}
