#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <vector>

#include "engine/EngineHarness.h"
#include "net/Place.h"
#include "net/Token_int.h"

namespace {

namespace fs = std::filesystem;

std::string pool(const char* value) {
  return std::string("<token place='Pool' value='") + value + "'/>";
}

std::string repeated(const std::string& text, int times) {
  return times > 0 ? text + repeated(text, times - 1) : "";
}

// Each case writes "marking.xml" (none when empty) and reads the place "Pool" from it twice, or
// ends the run with status 1 and the given line. It works in a folder of its own, beside two files
// that only a parser letting a DOCTYPE reach other files would read.
TEST(MarkingFileTest, EveryCallAddsTheMatchingTokensOrEndsTheRunWithItsMessage) {
  enginetest::InOwnFolder folder;
  std::ofstream("m.dtd") << "<!ATTLIST token value CDATA '5'>";
  std::ofstream("secret.xml") << pool("9");
  struct Case { std::string xml; std::vector<Long32> values; const char* dies = nullptr; };
  const Case cases[] = {
      {"<m>" + pool("0") + pool("0") + pool("0") + pool("0") + "</m>", {0, 0, 0, 0}},
      {"<m><token place='pool' value='1'/><token place='Pool ' value='2'/><token value='3'/></m>",
       {}},
      {"<m><a><b>" + pool("1") + "</b>" + pool("2") + "</a>" + pool("3") + "</m>", {1, 2, 3}},
      {"<m>" + pool(" -12abc") + pool("+7") + pool("") + pool("&#9;&#10; 5") +
           "<token place='Pool'/></m>", {-12, 7, 0, 5, 0}},
      {"<m>" + pool("2147483648") + pool("-99999999999999999999") + pool("2147483647") +
           pool("-2147483648") + "</m>", {INT_MAX, INT_MIN, INT_MAX, INT_MIN}},
      {"<m><token place='Pool\u4e00' value='1'/>" + pool("2\u4e00") + "</m>", {2}},
      {"<!DOCTYPE m SYSTEM 'm.dtd'><m><token place='Pool'/></m>", {0}},
      {"", {}, "Xerces SAX Exception message is: unable to open primary document entity "},
      {"<m><token place='Pool'>", {}, "Xerces SAX Exception message is: input ended before all"},
      {"<!DOCTYPE m [<!ENTITY e SYSTEM 'secret.xml'>]><m>&e;</m>", {},
       "Xerces SAX Exception message is: unable to open external entity 'secret.xml'\n"},
      {"<!DOCTYPE m [<!ENTITY a 'aaaaaaaaaa'><!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;'>"
       "<!ENTITY c '&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;'><!ENTITY d '&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;'>]>"
       "<m>&d;</m>", {}, "entity expansions in the document"},
      // Neither an entity nor an attribute default may blow a small file up into a huge text.
      {"<!DOCTYPE m [<!ENTITY big '" + std::string(4097, 'x') + "'>]><m>&big;</m>", {},
       "^marking.xml:1:4127: entity 'big' is longer than 4096 characters\n"},
      {"<!DOCTYPE m [<!ENTITY big '" + std::string(4096, 'x') + "'>]><m>" +
           repeated("&big;", 300) + "</m>", {},
       "^marking.xml:1:[0-9]+: more than [0-9]+ characters of text once entities are expanded"},
      {"<!DOCTYPE m [<!ATTLIST token pad CDATA '" + std::string(4000, 'x') + "'>]><m>" +
           repeated(pool("1"), 400) + "</m>", {},
       "attribute defaults filled in\n"},
      {"<!DOCTYPE m [<!ENTITY p 'Pool'><!ATTLIST token value CDATA '7'>]><m>" +
           repeated("<token place='&p;'/>", 2) + "</m>", {7, 7}},
  };
  for (const auto& c : cases) {
    fs::remove("marking.xml");
    if (!c.xml.empty()) std::ofstream("marking.xml") << c.xml;
    Place place(1, "Pool", nullptr, false, 0);
    if (c.dies != nullptr) {
      EXPECT_EXIT((dup2(2, 1), Token_int::addInitialTokens(&place)), testing::ExitedWithCode(1),
                  c.dies);
      continue;
    }
    for (int read = 0; read < 2; ++read) Token_int::addInitialTokens(&place);
    std::vector<Long32> read, expected = c.values;
    expected.insert(expected.end(), c.values.begin(), c.values.end());
    for (const Ptr<Token>& token : place.getFullMarking())
      read.push_back(Dynamic_Cast<Token_int>(token)->getValue());
    EXPECT_EQ(read, expected) << c.xml;
  }
  // On standard error with the place in the file, the file's control characters escaped.
  std::ofstream("marking.xml") << "<!DOCTYPE m [<!ENTITY e SYSTEM '\xc2\x9b[2J\t'>]>\n<m>&e;</m>";
  Place place(1, "Pool", nullptr, false, 0);
  EXPECT_EXIT(Token_int::addInitialTokens(&place), testing::ExitedWithCode(1),
              "^marking.xml:2:7: Xerces SAX Exception message is: unable to open external entity "
              "'\\\\xc2\\\\x9b\\[2J\\\\x09'\n$");
}

}  // namespace
