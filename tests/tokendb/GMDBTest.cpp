#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "net/TokenTransfer.h"
#include "tokendb/GMDB.h"

using namespace std::string_literals;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

// Marking 1 of the token type Container, laid out as the simulator stores markings. Token 104
// follows a row with values and is NULL in every column; token 105 holds a number too large for a
// 32-bit buffer.
const char* const TABLES[] = {
    "CREATE TABLE 1_places (id int not null, name long varchar, primary key (id))",
    "CREATE TABLE 1_tokens_container (id int not null primary key, object_id int, place_id int)",
    "CREATE TABLE 1_objects_container (id int not null, primary key (id), value int, "
    "note long varchar, flag bit(1), stamp datetime, big bigint)",
    "INSERT INTO 1_places VALUES (1, 'Queue'), (2, 'Server'), (3, REPEAT('x', 600))",
    "INSERT INTO 1_objects_container VALUES (10, -5, 'a', 1, '2024-02-29 13:45:06', 0), "
    "(12, 2147483647, REPEAT('n', 600), 1, NULL, 0), (13, NULL, NULL, NULL, NULL, NULL), "
    "(14, 1, 'c', 0, NULL, 1099511627776)",
    "INSERT INTO 1_tokens_container VALUES (-7, 10, 1), (102, 12, 1), (103, 10, 3), (104, 13, 2), "
    "(105, 14, 1)"};
// The rows as read, by id (the reads have no ORDER BY): texts longer than the buffer are cut to
// 511 characters, NULL reads as zero.
const std::string ROWS[] = {
    "-7 Queue|Value=-5|NOTE=a|flag=1|Stamp=2024-02-29 13:45:06",
    "102 Queue|Value=2147483647|NOTE=" + std::string(511, 'n') + "|flag=1|Stamp=",
    "103 " + std::string(511, 'x') + "|Value=-5|NOTE=a|flag=1|Stamp=2024-02-29 13:45:06",
    "104 Server|Value=0|NOTE=|flag=0|Stamp=", "105 Queue|Value=1|NOTE=c|flag=0|Stamp="};
const auto byId = [](auto* a, auto* b) { return a->id < b->id; };

// A row as "id place|name=value|...", each value as its buffer type gives it.
std::string show(const token_description& row) {
  std::string text = std::to_string(row.id) + " " + row.place_name;
  for (const token_attribute* a : row.attributes) {
    Long32 number = 0;
    std::memcpy(&number, a->value, sizeof number);
    std::string value = std::to_string(a->sql_c_type == SQL_C_SLONG ? number : a->value[0]);
    SQL_TIMESTAMP_STRUCT t;  // a timestamp as yyyymmddhhmmss
    std::memcpy(&t, a->value, sizeof t);
    if (a->sql_c_type == SQL_C_TYPE_TIMESTAMP)
      value = std::to_string(((t.year * 10000LL + t.month * 100 + t.day) * 100 + t.hour) * 10000 +
                             t.minute * 100 + t.second);
    text += "|" + a->name + "=" + (a->sql_c_type == SQL_C_CHAR ? a->value : value);
  }
  return text;
}

struct OwnedRows : token_description_list {
  ~OwnedRows() {
    for (token_description* row : token_descriptions) {
      for (token_attribute* attribute : row->attributes) delete attribute;
      delete row;
    }
  }
};

}  // namespace

TEST(GMDBConnect, RefusedConnectionsSayWhyButNeverShowThePassword) {
  const struct { const char *dsn, *password, *cause; } cases[] = {
      {"vudi_no_such_dsn", "secret", "DSN=vudi_no_such_dsn, USER=raruzev, PASS=********\n"},
      {nullptr, nullptr, "DSN=, USER=, PASS=********\nError SQLConnect -1\n"},
      {"vudi", "wrong-password", "Access denied for user 'raruzev'@'localhost'"}};
  GMDB db;  // a refused attempt leaves the object reusable
  for (size_t k = 0; k < (std::getenv("VUDI_TEST_DB_DIR") ? 3 : 2); ++k) {
    CaptureStdout();
    EXPECT_FALSE(db.DBConnect(cases[k].dsn, cases[k].dsn ? "raruzev" : nullptr, cases[k].password));
    const std::string out = GetCapturedStdout();
    EXPECT_NE(out.find(cases[k].cause), std::string::npos) << out;
    EXPECT_EQ(out.find(cases[k].password ? cases[k].password : "(null)"), std::string::npos);
    EXPECT_TRUE(std::cout.good());
  }
  // Not connected: everything else refuses without a word, closing is harmless.
  CaptureStdout();
  SQLHSTMT statement = SQL_NULL_HSTMT;
  EXPECT_FALSE(db.AllocateStatementHandle(&statement) || db.SQLQuery(&statement, "SELECT 1"));
  db.DBCloseConnect(), db.DBCloseConnect();
  EXPECT_EQ(GetCapturedStdout(), "");
}

// Talks to the private server that scripts/test-db.sh starts. Each test process works in a
// database of its own, so parallel tests and other suites never see its tables.
struct GMDBServer : testing::Test {
  void SetUp() override {
    if (!std::getenv("VUDI_TEST_DB_DIR")) GTEST_SKIP() << "no test database (scripts/test-db.sh)";
    CaptureStdout();
    const bool connected = db.DBConnect("vudi", "raruzev", "raruzev");
    const std::string out = GetCapturedStdout();
    ASSERT_TRUE(connected) << out;
    EXPECT_NE(out.find("PASS=********\nconnection established!\n"), std::string::npos) << out;
    EXPECT_FALSE(db.DBConnect("vudi", "raruzev", "raruzev"));  // already connected
    schema = "tokendb_test_" + std::to_string(getpid());
    ASSERT_TRUE(exec("CREATE DATABASE " + schema) && exec("USE " + schema));
    for (const char* sql : TABLES) ASSERT_TRUE(exec(sql)) << sql;
  }

  void TearDown() override {
    EXPECT_TRUE(schema.empty() || exec("DROP DATABASE IF EXISTS " + schema));
    db.DBCloseConnect();
  }

  // Runs sql; the first field it gives, up to 4095 characters, goes to `first` if one is given.
  bool exec(const std::string& sql, char* first = nullptr) {
    SQLHSTMT statement = SQL_NULL_HSTMT;
    const bool ok = db.AllocateStatementHandle(&statement) && db.SQLQuery(&statement, sql.c_str());
    if (ok && first && SQLFetch(statement) == SQL_SUCCESS)
      SQLGetData(statement, 1, SQL_C_CHAR, first, 4096, nullptr);
    SQLFreeHandle(SQL_HANDLE_STMT, statement);
    return ok;
  }
  std::string tables() {  // the tables of the test's database, in name order
    char names[4096] = {};
    exec("SELECT GROUP_CONCAT(table_name ORDER BY table_name) FROM information_schema.tables "
         "WHERE table_schema = DATABASE()", names);
    return names;
  }

  GMDB db;
  std::string schema;
};

TEST_F(GMDBServer, ReadTokensJoinsTheTablesReportsCutsAndAppends) {
  attr_name_type_info number{"Value", SQL_C_SLONG}, text{"NOTE", SQL_C_CHAR},
      flag{"flag", SQL_C_BIT}, stamp{"Stamp", SQL_C_CHAR};
  std::vector<attr_name_type_info*> request{&number, &text, &flag, &stamp}, none;
  OwnedRows out;
  CaptureStdout();
  ASSERT_TRUE(db.DBReadTokens(1, "ConTainer", &request, &out));
  ASSERT_TRUE(db.DBReadTokens(1, "container", &none, &out));  // appends, rows without attributes
  EXPECT_FALSE(db.DBReadTokens(-1, "Missing", &none, &out));  // prints the statement, adds nothing
  const std::string printed = GetCapturedStdout();
  for (const char* line : {"DBReadTokens: token 102: text of NOTE cut to 511 characters\n",
                           "DBReadTokens: token 103: text of place name cut to 511 characters\n",
                           "pname.id=tname.place_id\nError in Select -1\n"})
    EXPECT_NE(printed.find(line), std::string::npos) << printed;
  ASSERT_EQ(out.token_descriptions.size(), 2 * std::size(ROWS));
  EXPECT_TRUE(out.token_descriptions.back()->attributes.empty());
  std::sort(out.token_descriptions.begin(), out.token_descriptions.begin() + std::size(ROWS), byId);
  for (size_t k = 0; k < std::size(ROWS); ++k) EXPECT_EQ(show(*out.token_descriptions[k]), ROWS[k]);
  // A text of exactly 512 bytes leaves the buffer no room for its end: cut as a longer one is.
  ASSERT_TRUE(exec("UPDATE 1_places SET name = REPEAT('y', 512) WHERE id = 3"));
  OwnedRows exact;
  CaptureStdout();
  ASSERT_TRUE(db.DBReadTokens(1, "container", &none, &exact));
  EXPECT_EQ(GetCapturedStdout(),
            "DBReadTokens: token 103: text of place name cut to 511 characters\n");
  std::sort(exact.token_descriptions.begin(), exact.token_descriptions.end(), byId);
  EXPECT_EQ(exact.token_descriptions[2]->place_name, std::string(511, 'y'));
}

TEST_F(GMDBServer, RefusedNamesAndFormatsRunNothing) {
  // clang-format off
  const struct { const char* type; attr_name_type_info attribute; const char* says; } cases[] = {
      {"container", {"n+(SELECT COUNT(*) FROM mysql.user)", SQL_C_SLONG},
       "DBReadTokens: refused name 'n+(SELECT COUNT(*) FROM mysql.user)': only letters, digits "
       "and underscores are allowed\n"},
      {"container tname UNION SELECT 1, user FROM mysql.user --", {"value", SQL_C_SLONG},
       "DBReadTokens: refused name 'container tname UNION"},
      {"container", {"value", 999}, "Error in BindCol -1 (column 1)\n"}};
  // clang-format on
  for (const auto& c : cases) {
    std::vector<attr_name_type_info*> request{const_cast<attr_name_type_info*>(&c.attribute)};
    OwnedRows out;
    CaptureStdout();
    EXPECT_FALSE(db.DBReadTokens(1, c.type, &request, &out));
    const std::string printed = GetCapturedStdout();
    EXPECT_NE(printed.find(c.says), std::string::npos) << printed;
    EXPECT_TRUE(out.token_descriptions.empty());
  }
  // Refused formats and names run nothing.
  int number = 0;
  CaptureStdout();
  for (const char* format : {"", "%", "%x", "%ss", "%s%q", "%s %i"})
    EXPECT_FALSE(db.DBCreateTbl("fresh", format) || db.DBInsertRow("1_places", format) ||
                 db.DBUpdateRow("1_places", format, 1) || db.DBReadRow("1_places", format, 1));
  EXPECT_FALSE(db.DBCreateTbl("fresh", "%i", "id; DROP TABLE 1_places") ||
               db.DBDropTbl("1_places; --") || db.DBDeleteRow("1_places WHERE 1 OR Id", 1) ||
               db.DBReadInt(&number, "1_places", "COUNT(*)", 1) ||
               db.DBUpdateInt(1, "id = 9, name", "1_places", 1) || db.DBCreateDB("x", "MariaDB"));
  EXPECT_TRUE(GetCapturedStdout().starts_with("Wrong types\nWrong types\nWrong types.\n"));
  EXPECT_EQ(tables(), "1_objects_container,1_places,1_tokens_container");
  // Names beyond the server's limit are refused before any statement: one of megabytes would make
  // the server hang up. A refused name is echoed as its first 64 characters, escapes shown.
  const std::string longest(64, 'c');
  CaptureStdout();
  EXPECT_FALSE(db.DBDropTbl(std::string(20 << 20, 'a').c_str()) ||
               db.DBReadInt(&number, "1_places", "\x1b]0;owned\a\xff", 3));
  EXPECT_EQ(GetCapturedStdout(), "DBDropTbl: refused name '" + std::string(64, 'a') +
                                     "': longer than 64 characters\nDBReadInt: refused name "
                                     "'\\x1b]0;owned\\x07\\xff': only letters, digits and "
                                     "underscores are allowed\n");
  EXPECT_TRUE(db.DBCreateTbl(longest.c_str(), "%i", longest.c_str()) &&
              db.DBDropTbl(longest.c_str()));
  EXPECT_TRUE(db.DBReadInt(&number, "1_places", "id", 3) && number == 3);
}

// A stored value beyond its 32-bit attribute leaves its row out, saying where it lies, and the rows
// after it are read all the same.
TEST_F(GMDBServer, ARowWhoseValueDoesNotFitIsLeftOutAndTheRowsAfterItRead) {
  for (const char* sql :
       {"CREATE TABLE 2_places (id int, name varchar(20))", "INSERT INTO 2_places VALUES (1, 'P')",
        "CREATE TABLE 2_tokens_data (id int, object_id int, place_id int)",
        "INSERT INTO 2_tokens_data VALUES (1, 11, 1), (2, 12, 1), (3, 13, 1)",
        "CREATE TABLE 2_objects_data (id int, s bigint)",
        "INSERT INTO 2_objects_data VALUES (11, 640), (12, 1099511627776), (13, -2147483648)"})
    ASSERT_TRUE(exec(sql)) << sql;
  attr_name_type_info size{"S", SQL_C_SLONG};
  std::vector<attr_name_type_info*> request{&size};
  OwnedRows out;
  CaptureStdout();
  EXPECT_TRUE(db.DBReadTokens(2, "Data", &request, &out));
  EXPECT_EQ(GetCapturedStdout(),
            "DBReadTokens: token 2 of 2_tokens_data left out: its s in "
            "2_objects_data does not fit a 32-bit integer\n");
  std::sort(out.token_descriptions.begin(), out.token_descriptions.end(), byId);
  ASSERT_EQ(out.token_descriptions.size(), 2u);
  EXPECT_EQ(show(*out.token_descriptions[0]), "1 P|S=640");
  EXPECT_EQ(show(*out.token_descriptions[1]), "3 P|S=-2147483648");
  // Stored values that the driver would hand over as others: unsigned ones past the signed 64-bit
  // range as -1 and -2147483648, one below the 32-bit range as its low 32 bits, 640. A decimal's
  // fraction is dropped. The generic reads refuse them too.
  for (const char* sql :
       {"CREATE TABLE 3_places (id int, name varchar(20))", "INSERT INTO 3_places VALUES (1, 'P')",
        "CREATE TABLE 3_tokens_data (id int, object_id int, place_id int)",
        "INSERT INTO 3_tokens_data VALUES (1, 11, 1), (2, 12, 1), (3, 13, 1), (4, 14, 1)",
        "CREATE TABLE 3_objects_data (id int, s bigint unsigned, l bigint, g decimal(30,2))",
        "INSERT INTO 3_objects_data VALUES (11, 18446744073709551615, 0, 0), "
        "(12, 18446744071562067968, 0, 0), (13, 7, -4294966656, 0), (14, 640, -7, -640.75)"})
    ASSERT_TRUE(exec(sql)) << sql;
  attr_name_type_info low{"L", SQL_C_SLONG}, decimal{"g", SQL_C_SLONG};
  std::vector<attr_name_type_info*> wideRequest{&size, &low, &decimal};
  OwnedRows wide;
  int number = 9;
  CaptureStdout();
  EXPECT_TRUE(db.DBReadTokens(3, "Data", &wideRequest, &wide));
  EXPECT_FALSE(db.DBReadInt(&number, "3_objects_data", "s", 11) ||
               db.DBReadRow("3_objects_data", "%i", 12, "s", &number) ||
               db.DBReadInt(&number, "3_objects_data", "l", 13));
  const std::string refused = GetCapturedStdout();
  for (const char* line : {"token 1 of 3_tokens_data left out: its s in 3_objects_data does not",
                           "token 2 of 3_tokens_data left out: its s",
                           "token 3 of 3_tokens_data left out: its l",
                           "DBReadInt: value 18446744073709551615 out of range",
                           "DBReadRow: value 18446744071562067968 out of range",
                           "DBReadInt: value -4294966656 out of range"})
    EXPECT_NE(refused.find(line), std::string::npos) << refused;
  ASSERT_EQ(wide.token_descriptions.size(), 1u);
  EXPECT_TRUE(show(*wide.token_descriptions[0]) == "4 P|S=640|L=-7|g=-640" && number == 9);
  // A fetch that fails, here on a token id beyond its 32 bits, ends the read; the rows before stay.
  ASSERT_TRUE(exec("ALTER TABLE 2_tokens_data MODIFY id bigint") &&
              exec("INSERT INTO 2_tokens_data VALUES (1099511627776, 11, 1)"));
  OwnedRows cut;
  CaptureStdout();
  EXPECT_FALSE(db.DBReadTokens(2, "Data", &request, &cut));
  const std::string printed = GetCapturedStdout();
  EXPECT_NE(printed.find("Error in Fetch -1\n"), std::string::npos) << printed;
  EXPECT_EQ(cut.token_descriptions.size(), 2u);
}

// A text that would end a quoted value, escape, start a statement or comment; a non-ASCII letter.
const std::string ODD = "it's \"x\" \\ ; DROP TABLE markings; -- \xc3\xa4";

TEST_F(GMDBServer, CreatedMarkingsAreNumberedAndStoredAsGivenOrLeaveNothingBehind) {
  ASSERT_TRUE(exec("DROP TABLE 1_places, 1_tokens_container, 1_objects_container"));
  attr_name_type_info n{"N", SQL_C_CHAR}, s{"s", SQL_C_SLONG}, d{"d", SQL_C_BIT},
      gT{"gT", SQL_C_TYPE_TIMESTAMP}, spaced{"a b", SQL_C_CHAR}, unknown{"n", 999};
  tokentype_description data{"Data", {&n, &s, &d, &gT}}, again{"data", {&n}},
      bad{"Bad", {&spaced}}, odd{"Odd", {&unknown}};
  // A failure takes back every table the call created, the markings table included.
  const struct { const char* before; std::vector<tokentype_description*> types; const char* says; }
  failures[] = {{"", {&data, &again}, "Couldn't create table '1_tokens_data'\n"},
                {"", {&bad}, "DBCreateMarking: refused name 'a b'"},
                {"", {&odd}, "Couldn't get sqltype name for 'n' type=999\n"},
                {"CREATE TABLE 1_places (id int)", {&data}, "Couldn't create table '1_places'\n"}};
  for (const auto& c : failures) {
    ASSERT_TRUE(!*c.before || exec(c.before));
    const std::string before = tables();
    marking_description marking{"m", {"p"}, c.types};
    CaptureStdout();
    EXPECT_FALSE(db.DBCreateMarking(&marking));
    EXPECT_NE(GetCapturedStdout().find(c.says), std::string::npos) << c.says;
    EXPECT_EQ(tables(), before);
  }
  ASSERT_TRUE(exec("DROP TABLE 1_places"));

  marking_description marking{ODD, {"Queue", ODD}, {&data}};
  const auto create = [&](int expected) {
    std::vector<marking_info*> markings;
    CaptureStdout();
    const bool created = db.DBCreateMarking(&marking) && db.DBGetMarkings(markings);
    GetCapturedStdout();
    ASSERT_TRUE(created && !markings.empty());
    std::sort(markings.begin(), markings.end(), byId);
    EXPECT_TRUE(markings.back()->id == expected && markings.back()->name == ODD) << expected;
    for (marking_info* info : markings) delete info;
  };
  create(1);  // no markings table yet
  EXPECT_EQ(tables(), "1_objects_data,1_places,1_tokens_data,markings");
  // The token read finds the columns where the marking put them.
  ASSERT_TRUE(exec("INSERT INTO 1_objects_data VALUES (1, 'n', -5, 1, '2024-02-29 13:45:06')") &&
              exec("INSERT INTO 1_tokens_data VALUES (7, 1, 2)"));
  OwnedRows got;
  std::vector<attr_name_type_info*> columns{&n, &s, &d};
  ASSERT_TRUE(db.DBReadTokens(1, "Data", &columns, &got));
  ASSERT_EQ(got.token_descriptions.size(), 1u);
  EXPECT_EQ(show(*got.token_descriptions[0]), "7 " + ODD + "|N=n|s=-5|d=1");
  ASSERT_TRUE(exec("INSERT INTO markings VALUES (4, 'four')"));
  create(5);
  ASSERT_TRUE(exec("DELETE FROM markings") &&
              exec("DROP TABLE 1_places, 1_tokens_data, 1_objects_data"));
  create(1);  // an empty markings table
}

// A row of every format letter, as the row calls and the single-value calls see it. Its 1e-7,
// written as "%f" text, would be stored as 0.
struct Letters {
  std::string s; int i; float f; double d; bool b; std::string a, m, t;
  bool operator==(const Letters&) const = default;
};

bool readRow(GMDB& db, Letters& row) {
  char s[200], a[200], m[200], t[200];
  const bool read = db.DBReadRow("letters", "%s%i%f%d%b%a%m%t", 3, "s", s, "i", &row.i, "f", &row.f,
                                 "d", &row.d, "b", &row.b, "a", a, "m", m, "t", t);
  if (read) row.s = s, row.a = a, row.m = m, row.t = t;
  return read;
}

int countReads(GMDB& db, Letters& row) {
  return db.DBReadStr(row.s, "letters", "s", 3) + db.DBReadInt(&row.i, "letters", "i", 3) +
         db.DBReadFloat(&row.f, "letters", "f", 3) + db.DBReadDouble(&row.d, "letters", "d", 3) +
         db.DBReadBool(&row.b, "letters", "b", 3) + db.DBReadStr(row.a, "letters", "a", 3) +
         db.DBReadStr(row.m, "letters", "m", 3) + db.DBReadDateTime(row.t, "letters", "t", 3);
}

TEST_F(GMDBServer, EveryFormatLetterSurvivesInsertReadUpdateDeleteAndLongTextsAndNullsReadSafely) {
  const Letters v{ODD, -5, 1e-7f, 1e-7, true, "2024-02-29", "13:45:06", "2024-02-29 13:45:06"};
  const Letters w{"", -2147483647 - 1, 3.25e38f, -1e300, false, "1999-12-31", "00:00:01",
                  "2000-01-01 00:00:00"};
  const char* const format = "%i%s%i%f%d%b%a%m%t";
  int id = 3;
  ASSERT_TRUE(db.DBCreateTbl("letters", format, "Id", "s", "i", "f", "d", "b", "a", "m", "t"));
  ASSERT_TRUE(db.DBInsertRow("letters", format, "Id", &id, "s", v.s.c_str(), "i", &v.i, "f", &v.f,
                             "d", &v.d, "b", v.b, "a", v.a.c_str(), "m", v.m.c_str(), "t",
                             v.t.c_str()));
  Letters read{};
  EXPECT_TRUE(readRow(db, read) && read == v);
  ASSERT_TRUE(db.DBUpdateRow("letters", format + 2, 3, "s", w.s.c_str(), "i", &w.i, "f", &w.f,
                             "d", &w.d, "b", w.b, "a", w.a.c_str(), "m", w.m.c_str(), "t",
                             w.t.c_str()));
  EXPECT_TRUE(countReads(db, read) == 8 && read == w);
  EXPECT_TRUE(
      db.DBUpdateStr(v.s.c_str(), "s", "letters", 3) && db.DBUpdateInt(v.i, "i", "letters", 3) &&
      db.DBUpdateFloat(v.f, "f", "letters", 3) && db.DBUpdateDouble(v.d, "d", "letters", 3) &&
      db.DBUpdateBool(v.b, "b", "letters", 3) && db.DBUpdateDate(v.a.c_str(), "a", "letters", 3) &&
      db.DBUpdateTime(v.m.c_str(), "m", "letters", 3) &&
      db.DBUpdateDateTime(v.t.c_str(), "t", "letters", 3));
  // A row update that fails half-way changes nothing.
  EXPECT_FALSE(db.DBUpdateRow("letters", "%i%i", 3, "i", &id, "missing", &id));
  EXPECT_TRUE(readRow(db, read) && read == v);
  // A missing row reads as false and leaves every output as it was.
  ASSERT_TRUE(db.DBDeleteRow("letters", 3));
  EXPECT_FALSE(readRow(db, read) || countReads(db, read) > 0);
  EXPECT_TRUE(read == v && db.DBDropTbl("letters"));

  // Long texts, NULLs and values that do not fit.
  ASSERT_TRUE(exec("CREATE TABLE v (id int, txt longtext, flag varchar(9), n int)"));
  ASSERT_TRUE(exec("INSERT INTO v VALUES (1, REPEAT('x', 1500), 'T', -7), "
                   "(2, REPEAT('y', 1048577), 'yes', 1), (3, NULL, NULL, NULL)"));
  // The third index does not fit an int: the read stops there and keeps the rows before it.
  ASSERT_TRUE(exec("CREATE TABLE Passenger (`Index` bigint, Frequency double)") &&
              exec("INSERT INTO Passenger VALUES (-3, .5), (-3, .7), (1099511627776, 1), (4, 1)"));
  std::string text = "kept";
  bool flag = false;
  int number = 9;
  CaptureStdout();
  EXPECT_TRUE(db.DBReadStr(text, "v", "txt", 1) && db.DBReadBool(&flag, "v", "flag", 1) &&
              db.DBReadInt(&number, "v", "n", 1));
  EXPECT_FALSE(db.DBReadStr(text, "v", "txt", 2) || db.DBReadBool(&flag, "v", "flag", 2));
  EXPECT_TRUE(text == std::string(1500, 'x') && flag && number == -7);
  EXPECT_TRUE(db.DBReadStr(text, "v", "txt", 3) && db.DBReadBool(&flag, "v", "flag", 3) &&
              db.DBReadInt(&number, "v", "n", 3) && text.empty() && !flag && number == 0);
  EXPECT_EQ(db.DBReadFrequencies(), (std::map<int, double>{{-3, 0.5}}));
  const std::string printed = GetCapturedStdout();
  for (const char* line : {"DBReadStr: text longer than 1048576 characters refused\n",
                           "No boolean format!\n",
                           "DBReadFrequencies: value 1099511627776 out of range\n"})
    EXPECT_NE(printed.find(line), std::string::npos) << printed;
}

// Every attribute type of the model's Data token: a row of NULLs leaves the next row's values
// alone, a BIT column reads as a bool, a stored place name is taken whole, NUL byte and all; names
// that SQL also reads as a function or a number are the tables and columns of those names.
TEST_F(GMDBServer, BitsNullsAndNamesAreTakenAsStored) {
  for (const char* sql :
       {"CREATE TABLE 2_places (id int primary key, name long varchar)",
        "CREATE TABLE 2_tokens_data (id int primary key, object_id int, place_id int)",
        "CREATE TABLE 2_objects_data (id int primary key, n text, s int, gt datetime, d bit)",
        "INSERT INTO 2_places VALUES (1, 'Queue'), (2, CONCAT('Queue', CHAR(0), 'x'))",
        "INSERT INTO 2_objects_data VALUES (1, NULL, NULL, NULL, NULL), "
        "(2, 'b', 6, '2000-01-01 00:00:10', 1), (3, NULL, NULL, NULL, 0)",
        "INSERT INTO 2_tokens_data VALUES (1, 1, 1), (2, 2, 2)"})
    ASSERT_TRUE(exec(sql)) << sql;
  attr_name_type_info n{"n", SQL_C_CHAR}, s{"s", SQL_C_SLONG}, gT{"gT", SQL_C_TYPE_TIMESTAMP},
      d{"d", SQL_C_BIT};
  std::vector<attr_name_type_info*> request{&n, &s, &gT, &d};
  OwnedRows out;
  ASSERT_TRUE(db.DBReadTokens(2, "Data", &request, &out));
  ASSERT_EQ(out.token_descriptions.size(), 2u);
  EXPECT_EQ(show(*out.token_descriptions[0]), "1 Queue|n=|s=0|gT=0|d=0");  // fetched first
  EXPECT_EQ(show(*out.token_descriptions[1]), "2 Queue\0x|n=b|s=6|gT=20000101000010|d=1"s);
  for (int id = 1; id <= 3; ++id) {
    bool flags[2] = {id != 2, id != 2};
    EXPECT_TRUE(db.DBReadBool(&flags[0], "2_objects_data", "d", id) &&
                db.DBReadRow("2_objects_data", "%b", id, "d", &flags[1]));
    EXPECT_TRUE(flags[0] == (id == 2) && flags[1] == (id == 2)) << id;
  }
  int id = 1, user = 7, thousand = 8, got[2] = {};
  ASSERT_TRUE(db.DBCreateTbl("1e3", "%i%i%i", "Id", "CURRENT_USER", "1e3") &&
              db.DBInsertRow("1e3", "%i%i%i", "Id", &id, "CURRENT_USER", &user, "1e3", &thousand));
  EXPECT_TRUE(db.DBReadInt(&got[0], "1e3", "1e3", 1) && got[0] == 8);
  EXPECT_TRUE(db.DBUpdateRow("1e3", "%i", 1, "1e3", &user) &&
              db.DBReadRow("1e3", "%i%i", 1, "1e3", &got[0], "CURRENT_USER", &got[1]) &&
              got[0] == 7 && got[1] == 7);
  EXPECT_TRUE(db.DBDeleteRow("1e3", 1) && db.DBDropTbl("1e3"));
}

// A user name or password holding what a connect string would read as another setting reaches
// the server as given.
TEST_F(GMDBServer, UserNamesAndPasswordsAreTakenWholeByTheConnection) {
  const std::string name = "u;PWD={" + std::to_string(getpid()) + "}", password = "p};DSN=x{",
                    user = "'" + name + "'@'localhost'", server = std::getenv("VUDI_TEST_DB_DIR");
  const auto asRoot = [&server](const std::string& sql) {
    return std::system(
        ("mariadb --no-defaults -uroot -S '" + server + "/mysql.sock' -e \"" + sql + "\"").c_str());
  };
  ASSERT_EQ(asRoot("CREATE USER " + user + " IDENTIFIED BY '" + password +
                   "'; GRANT SELECT ON vudi.* TO " + user),
            0);
  CaptureStdout();
  const bool connected = GMDB().DBConnect("vudi", name.c_str(), password.c_str()),
             injected = GMDB().DBConnect("vudi", "raruzev;PWD=raruzev", "wrong");
  const std::string out = GetCapturedStdout();
  EXPECT_TRUE(connected && !injected) << out;
  asRoot("DROP USER " + user);
}
