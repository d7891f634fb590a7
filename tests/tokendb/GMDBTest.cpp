#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "net/TokenTransfer.h"
#include "net/Token_int.h"
#include "tokendb/GMDB.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

// Marking 1 of the token type Container, laid out as the simulator stores markings. Token 104
// follows a row with values and has NULL in every column it reads.
const char* const TABLES[] = {
    "CREATE TABLE 1_places (id int not null, name long varchar, primary key (id))",
    "CREATE TABLE 1_tokens_container (id int not null, object_id int, place_id int, "
    "primary key (id))",
    "CREATE TABLE 1_objects_container (id int not null, primary key (id), value int, "
    "note long varchar)",
    "INSERT INTO 1_places VALUES (1, 'Queue'), (2, 'Server'), (3, REPEAT('x', 600))",
    "INSERT INTO 1_objects_container VALUES (10, 7, 'a'), (11, -5, 'b'), "
    "(12, 2147483647, REPEAT('n', 600)), (13, NULL, NULL)",
    "INSERT INTO 1_tokens_container VALUES (100, 10, 1), (101, 11, 2), (102, 12, 1), "
    "(103, 10, 3), (104, 13, 2)",
};
// The rows of tokens 100 to 104: texts longer than the buffer are cut to 511 characters.
struct Row { Long32 value; std::string place, text, note; };
const Row ROWS[] = {{7, "Queue", "7", "a"}, {-5, "Server", "-5", "b"},
                    {2147483647, "Queue", "2147483647", std::string(511, 'n')},
                    {7, std::string(511, 'x'), "7", "a"}, {0, "Server", "", ""}};
// The reads have no ORDER BY, so results are sorted by id.
const auto byId = [](auto* a, auto* b) { return a->id < b->id; };

}  // namespace

TEST(GMDBOffline, FailedConnectReportsAndLeavesNothingOpen) {
  GMDB db;
  const std::regex report(
      "the following DSNs are available:\n(.*\n)*"
      "trying to connect to DSN=vudi_no_such_dsn, USER=someone, PASS=secret\n"
      "Error SQLConnect -1\n.+ \\(.*\\)\n");
  for (int attempt = 0; attempt < 2; ++attempt) {  // a failed attempt leaves the object reusable
    CaptureStdout();
    EXPECT_FALSE(db.DBConnect("vudi_no_such_dsn", "someone", "secret"));
    const std::string out = GetCapturedStdout();
    EXPECT_TRUE(std::regex_match(out, report)) << out;
  }
  // Not connected: everything else refuses without a word, closing is harmless.
  CaptureStdout();
  SQLHSTMT statement = SQL_NULL_HSTMT;
  std::vector<attr_name_type_info*> none;
  token_description_list out;
  EXPECT_FALSE(db.AllocateStatementHandle(&statement) || db.SQLQuery(&statement, "SELECT 1") ||
               db.DBReadTokens(1, "Container", &none, &out));
  db.DBCloseConnect();
  db.DBCloseConnect();
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_TRUE(out.tokentypename.empty() && out.token_descriptions.empty());
}

TEST(GMDBOffline, LcaseLowersOnlyAsciiLettersUpToTheFirstNul) {
  EXPECT_EQ(GMDB::lcase("Data_GT 09 \xC3\x84"), "data_gt 09 \xC3\x84");
  EXPECT_EQ(GMDB::lcase(std::string("AB\0CD", 5)), std::string("ab\0CD", 5));
}

// Talks to the private server that scripts/test-db.sh starts. Each test process works in a
// database of its own, so parallel tests and other suites never see its tables.
class GMDBServer : public testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("VUDI_TEST_DB_DIR"))
      GTEST_SKIP() << "no test database configured: start one with scripts/test-db.sh start";
    CaptureStdout();
    const bool connected = db.DBConnect("vudi", "raruzev", "raruzev");
    const std::string out = GetCapturedStdout();
    ASSERT_TRUE(connected) << out;
    EXPECT_NE(out.find("\tservername='vudi', description='MariaDB'\n"), std::string::npos) << out;
    EXPECT_NE(out.find("PASS=raruzev\nconnection established!\n"), std::string::npos) << out;
    EXPECT_FALSE(db.DBConnect("vudi", "raruzev", "raruzev"));  // already connected
    schema = "tokendb_test_" + std::to_string(getpid());
    ASSERT_TRUE(exec("CREATE DATABASE " + schema) && exec("USE " + schema));
    for (const char* sql : TABLES) ASSERT_TRUE(exec(sql)) << sql;
  }

  void TearDown() override {
    EXPECT_TRUE(schema.empty() || exec("DROP DATABASE IF EXISTS " + schema));
    db.DBCloseConnect();
  }

  bool exec(const std::string& sql) {
    SQLHSTMT statement = SQL_NULL_HSTMT;
    if (!db.AllocateStatementHandle(&statement)) return false;
    const bool ok = db.SQLQuery(&statement, sql.c_str());
    SQLFreeHandle(SQL_HANDLE_STMT, statement);
    return ok;
  }

  GMDB db;
  std::string schema;
};

TEST_F(GMDBServer, ReadTokensJoinsTheTablesAppendsAndReportsAFailedRead) {
  attr_name_type_info number{"Value", SQL_C_SLONG}, text{"VALUE", SQL_C_CHAR};
  attr_name_type_info note{"Note", SQL_C_CHAR};
  std::vector<attr_name_type_info*> request{&number, &text, &note}, none;
  token_description_list out;
  ASSERT_TRUE(db.DBReadTokens(1, "ConTainer", &request, &out));
  EXPECT_EQ(out.tokentypename, "ConTainer");
  std::sort(out.token_descriptions.begin(), out.token_descriptions.end(), byId);
  ASSERT_EQ(out.token_descriptions.size(), 5u);
  for (int k = 0; k < 5; ++k) {
    const token_description* row = out.token_descriptions[k];
    EXPECT_EQ(row->id, 100 + k);
    EXPECT_EQ(row->place_name, ROWS[k].place);
    ASSERT_EQ(row->attributes.size(), 3u);
    for (int a = 0; a < 3; ++a) {
      EXPECT_EQ(row->attributes[a]->name, request[a]->name);
      EXPECT_EQ(row->attributes[a]->sql_c_type, request[a]->sql_c_type);
    }
    Long32 value = -1;
    std::memcpy(&value, row->attributes[0]->value, sizeof value);
    EXPECT_EQ(value, ROWS[k].value) << k;
    EXPECT_EQ(row->attributes[1]->value, ROWS[k].text) << k;
    EXPECT_EQ(row->attributes[2]->value, ROWS[k].note) << k;
  }
  // A second read appends after the first; with no attributes each row has none. A failed one
  // prints the statement and adds nothing.
  ASSERT_TRUE(db.DBReadTokens(1, "container", &none, &out));
  EXPECT_EQ(out.tokentypename, "container");
  CaptureStdout();
  EXPECT_FALSE(db.DBReadTokens(2, "Missing", &none, &out));
  const std::string printed = GetCapturedStdout();
  EXPECT_TRUE(printed.starts_with(
      "SQLExecDirect failed: SELECT  tname.id, pname.name FROM 2_tokens_missing tname, "
      "2_objects_missing oname, 2_places pname WHERE tname.object_id = oname.id AND "
      "pname.id=tname.place_id\nError in Select -1\n")) << printed;
  EXPECT_NE(printed.find("2_tokens_missing' doesn't exist (1146)\n"), std::string::npos) << printed;
  EXPECT_EQ(out.tokentypename, "Missing");
  ASSERT_EQ(out.token_descriptions.size(), 10u);
  EXPECT_EQ(out.token_descriptions[4]->id, 104);
  for (size_t k = 0; k < 10; ++k) {
    token_description* row = out.token_descriptions[k];
    EXPECT_EQ(row->attributes.size(), k < 5 ? 3u : 0u);
    for (token_attribute* attribute : row->attributes) delete attribute;
    delete row;
  }
}

TEST_F(GMDBServer, CreateTokensFromDBMakesIntTokensOfTheStoredRows) {
  std::vector<token_info*> tokens;
  std::vector<token_reference*> references;
  Token_int::createTokensFromDB(nullptr, &db, tokens, references);
  EXPECT_TRUE(references.empty());
  ASSERT_EQ(tokens.size(), 5u);
  std::sort(tokens.begin(), tokens.end(), byId);
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(tokens[k]->tokentypename + tokens[k]->token->getName(), "intint");
    EXPECT_EQ(tokens[k]->id, 100 + k);
    EXPECT_EQ(tokens[k]->place_name, ROWS[k].place);
    EXPECT_EQ(tokens[k]->token->content(), std::to_string(ROWS[k].value));
    delete tokens[k];
  }
}
