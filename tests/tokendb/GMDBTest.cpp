#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "net/Token_int.h"
#include "tokendb/GMDB.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

// The stored rows in id order (ids 100 to 103); the reads have no ORDER BY, so results are sorted.
const Long32 VALUES[] = {7, -5, 2147483647, 7};
const std::string PLACES[] = {"Queue", "Server", "Queue", std::string(511, 'x')};
// Marking 1 of the token type Container, laid out as the simulator stores markings.
const char* const TABLES[] = {
    "CREATE TABLE 1_places (id int not null, name long varchar, primary key (id))",
    "CREATE TABLE 1_tokens_container (id int not null, object_id int, place_id int, "
    "primary key (id))",
    "CREATE TABLE 1_objects_container (id int not null, primary key (id), value int, "
    "note long varchar)",
    "INSERT INTO 1_places VALUES (1, 'Queue'), (2, 'Server'), (3, REPEAT('x', 600))",
    "INSERT INTO 1_objects_container VALUES (10, 7, 'a'), (11, -5, 'b'), "
    "(12, 2147483647, REPEAT('n', 600))",
    "INSERT INTO 1_tokens_container VALUES (100, 10, 1), (101, 11, 2), (102, 12, 1), (103, 10, 3)",
};
const auto byId = [](auto* a, auto* b) { return a->id < b->id; };

void deleteRows(token_description_list& list) {
  for (token_description* row : list.token_descriptions) {
    for (token_attribute* attribute : row->attributes) delete attribute;
    delete row;
  }
  list.token_descriptions.clear();
}

}  // namespace

TEST(GMDBOffline, FailedConnectReportsAndLeavesNothingOpen) {
  GMDB db;
  for (int attempt = 0; attempt < 2; ++attempt) {  // a failed attempt leaves the object reusable
    CaptureStdout();
    EXPECT_FALSE(db.DBConnect("vudi_no_such_dsn", "someone", "secret"));
    const std::string out = GetCapturedStdout();
    EXPECT_EQ(out.rfind("the following DSNs are available:\n", 0), 0u) << out;
    const std::string tried =
        "\ntrying to connect to DSN=vudi_no_such_dsn, USER=someone, PASS=secret\n"
        "Error SQLConnect -1\n";
    const size_t at = out.find(tried);
    ASSERT_NE(at, std::string::npos) << out;
    const std::string diagnostic = out.substr(at + tried.size());  // "<text> (<native code>)"
    EXPECT_EQ(diagnostic.find('\n'), diagnostic.size() - 1) << out;
    EXPECT_GT(diagnostic.find(" ("), 0u) << out;
    EXPECT_EQ(diagnostic.rfind(")\n"), diagnostic.size() - 2) << out;
  }

  // Not connected: everything else refuses without a word, closing is harmless.
  CaptureStdout();
  SQLHSTMT statement = SQL_NULL_HSTMT;
  EXPECT_FALSE(db.AllocateStatementHandle(&statement));
  EXPECT_FALSE(db.SQLQuery(&statement, "SELECT 1"));
  std::vector<attr_name_type_info*> none;
  token_description_list out;
  EXPECT_FALSE(db.DBReadTokens(1, "Container", &none, &out));
  db.DBCloseConnect();
  db.DBCloseConnect();
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_EQ(out.tokentypename, "");
  EXPECT_TRUE(out.token_descriptions.empty());
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

    ASSERT_TRUE(exec("CREATE DATABASE tokendb_test_" + std::to_string(getpid())));
    schema = "tokendb_test_" + std::to_string(getpid());
    ASSERT_TRUE(exec("USE " + schema));
    for (const char* sql : TABLES) ASSERT_TRUE(exec(sql)) << sql;
  }

  void TearDown() override {
    if (!schema.empty()) {
      EXPECT_TRUE(exec("DROP DATABASE " + schema));
    }
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

TEST_F(GMDBServer, ReadTokensJoinsTheTablesAndAppends) {
  attr_name_type_info number{"Value", SQL_C_SLONG};
  attr_name_type_info text{"VALUE", SQL_C_CHAR};
  attr_name_type_info note{"Note", SQL_C_CHAR};
  std::vector<attr_name_type_info*> request{&number, &text, &note};
  token_description_list out;
  ASSERT_TRUE(db.DBReadTokens(1, "ConTainer", &request, &out));
  EXPECT_EQ(out.tokentypename, "ConTainer");
  std::sort(out.token_descriptions.begin(), out.token_descriptions.end(), byId);
  ASSERT_EQ(out.token_descriptions.size(), 4u);
  // Texts longer than the buffer are cut to 511 characters and the row is still taken.
  for (int k = 0; k < 4; ++k) {
    const token_description* row = out.token_descriptions[k];
    EXPECT_EQ(row->id, 100 + k);
    EXPECT_EQ(row->place_name, PLACES[k]);
    ASSERT_EQ(row->attributes.size(), 3u);
    EXPECT_EQ(row->attributes[0]->name, "Value");
    EXPECT_EQ(row->attributes[0]->sql_c_type, SQL_C_SLONG);
    Long32 value = 0;
    std::memcpy(&value, row->attributes[0]->value, sizeof value);
    EXPECT_EQ(value, VALUES[k]);
    EXPECT_EQ(row->attributes[1]->name, "VALUE");
    EXPECT_EQ(row->attributes[1]->sql_c_type, SQL_C_CHAR);
    EXPECT_EQ(row->attributes[1]->value, std::to_string(VALUES[k]));
    EXPECT_EQ(row->attributes[2]->value, k == 2 ? std::string(511, 'n') : k == 1 ? "b" : "a");
  }

  // A second read appends after the first; with no attributes each row has none.
  std::vector<attr_name_type_info*> none;
  ASSERT_TRUE(db.DBReadTokens(1, "container", &none, &out));
  EXPECT_EQ(out.tokentypename, "container");
  ASSERT_EQ(out.token_descriptions.size(), 8u);
  EXPECT_EQ(out.token_descriptions[3]->id, 103);
  for (size_t k = 4; k < 8; ++k) EXPECT_TRUE(out.token_descriptions[k]->attributes.empty());
  deleteRows(out);
}

TEST_F(GMDBServer, FailedReadPrintsTheStatementAndAddsNoRows) {
  token_description_list out;
  std::vector<attr_name_type_info*> none;
  CaptureStdout();
  EXPECT_FALSE(db.DBReadTokens(2, "Missing", &none, &out));
  const std::string printed = GetCapturedStdout();
  const std::string expected =
      "SQLExecDirect failed: SELECT  tname.id, pname.name FROM 2_tokens_missing tname, "
      "2_objects_missing oname, 2_places pname WHERE tname.object_id = oname.id AND "
      "pname.id=tname.place_id\nError in Select -1\n";
  EXPECT_EQ(printed.rfind(expected, 0), 0u) << printed;
  EXPECT_NE(printed.find("2_tokens_missing' doesn't exist (1146)\n"), std::string::npos) << printed;
  EXPECT_EQ(out.tokentypename, "Missing");
  EXPECT_TRUE(out.token_descriptions.empty());
}

TEST_F(GMDBServer, CreateTokensFromDBMakesIntTokensOfTheStoredRows) {
  std::vector<token_info*> tokens;
  std::vector<token_reference*> references;
  Token_int::createTokensFromDB(nullptr, &db, tokens, references);
  EXPECT_TRUE(references.empty());
  ASSERT_EQ(tokens.size(), 4u);
  std::sort(tokens.begin(), tokens.end(), byId);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(tokens[k]->tokentypename, "int");
    EXPECT_EQ(tokens[k]->id, 100 + k);
    EXPECT_EQ(tokens[k]->place_name, PLACES[k]);
    EXPECT_EQ(tokens[k]->token->getName(), "int");
    EXPECT_EQ(tokens[k]->token->content(), std::to_string(VALUES[k]));
    delete tokens[k];
  }
}

TEST_F(GMDBServer, NullColumnsReadAsEmptyValuesNotAsThePreviousRow) {
  ASSERT_TRUE(exec("INSERT INTO 1_objects_container VALUES (13, NULL, NULL)"));
  ASSERT_TRUE(exec("INSERT INTO 1_tokens_container VALUES (104, 13, 2)"));
  attr_name_type_info number{"value", SQL_C_SLONG};
  attr_name_type_info note{"note", SQL_C_CHAR};
  std::vector<attr_name_type_info*> request{&number, &note};
  token_description_list out;
  ASSERT_TRUE(db.DBReadTokens(1, "Container", &request, &out));
  ASSERT_EQ(out.token_descriptions.size(), 5u);
  for (const token_description* row : out.token_descriptions) {
    if (row->id != 104) continue;
    Long32 value = -1;
    std::memcpy(&value, row->attributes[0]->value, sizeof value);
    EXPECT_EQ(value, 0);
    EXPECT_STREQ(row->attributes[1]->value, "");
    EXPECT_EQ(row->place_name, "Server");
  }
  deleteRows(out);
}
