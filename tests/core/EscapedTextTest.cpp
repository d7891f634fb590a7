#include "core/EscapedText.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

TEST(EscapedText, ControlBytesAndBrokenUtf8AreEscapedPrintableTextIsKeptByteForByte) {
  const std::pair<std::string, std::string> cases[] = {
      {"Q_1 {n=\"a b\"} ~\\ K\xc3\xa4se \xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0",
       "Q_1 {n=\"a b\"} ~\\ K\xc3\xa4se \xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa0"},
      {"\x1b[2J\rOK\n\0\t\x7f"s, "\\x1b[2J\\x0dOK\\x0a\\x00\\x09\\x7f"},
      // C1 controls, encoded or bare; an overlong '/', a surrogate, past U+10FFFF, cut short.
      {"\xc2\x9b \x9b \xc0\xaf \xed\xa0\x80 \xf4\x90\x80\x80 \xff\xfe \xe2\x82",
       "\\xc2\\x9b \\x9b \\xc0\\xaf \\xed\\xa0\\x80 \\xf4\\x90\\x80\\x80 \\xff\\xfe \\xe2\\x82"}};
  for (const auto& [text, shown] : cases) EXPECT_EQ(escapedText(text), shown) << shown;
}
