#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "net/TokenTransfer.h"
#include "net/Token_int.h"
#include "tokendb/GMDB.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

// Marking 1 of the token type Container, laid out as the simulator stores markings. Token 104
// follows a row with values and is NULL in every column; token 105 holds a number too large for a
// 32-bit buffer.
const char* const TABLES[] = {
    "CREATE TABLE 1_places (id int not null, name long varchar, primary key (id))",
    "CREATE TABLE 1_tokens_container (id int not null, object_id int, place_id int, "
    "primary key (id))",
    "CREATE TABLE 1_objects_container (id int not null, primary key (id), value int, "
    "note long varchar, flag bit(1), stamp datetime, big bigint)",
    "INSERT INTO 1_places VALUES (1, 'Queue'), (2, 'Server'), (3, REPEAT('x', 600))",
    "INSERT INTO 1_objects_container VALUES (10, -5, 'a', 1, '2024-02-29 13:45:06', 0), "
    "(12, 2147483647, REPEAT('n', 600), 1, NULL, 0), (13, NULL, NULL, NULL, NULL, NULL), "
    "(14, 1, 'c', 0, NULL, 1099511627776)",
    "INSERT INTO 1_tokens_container VALUES (-7, 10, 1), (102, 12, 1), (103, 10, 3), (104, 13, 2), "
    "(105, 14, 1)",
};
// The rows as read: texts longer than the buffer are cut to 511 characters, NULL reads as zero.
struct Row { int id; std::string place, values; };
const Row ROWS[] = {{-7, "Queue", "-5 a 1 20240229134506"},
                    {102, "Queue", "2147483647 " + std::string(511, 'n') + " 1 0"},
                    {103, std::string(511, 'x'), "-5 a 1 20240229134506"},
                    {104, "Server", "0  0 0"}, {105, "Queue", "1 c 0 0"}};
const size_t ROW_COUNT = std::size(ROWS);
// The reads have no ORDER BY, so results are sorted by id.
const auto byId = [](auto* a, auto* b) { return a->id < b->id; };

// An attribute's bytes as text; a timestamp as the digits of YYYYMMDDhhmmss.
std::string show(const token_attribute& a) {
  Long32 number = 0;
  SQL_TIMESTAMP_STRUCT t;
  std::memcpy(&number, a.value, sizeof number);
  std::memcpy(&t, a.value, sizeof t);
  const long long stamp = ((((t.year * 100LL + t.month) * 100 + t.day) * 100 + t.hour) * 100 +
                           t.minute) * 100 + t.second;
  if (a.sql_c_type == SQL_C_CHAR) return a.value;
  return std::to_string(a.sql_c_type == SQL_C_SLONG ? number
                        : a.sql_c_type == SQL_C_BIT ? a.value[0] : stamp);
}

void deleteRows(token_description_list& out) {
  for (token_description* row : out.token_descriptions) {
    for (token_attribute* attribute : row->attributes) delete attribute;
    delete row;
  }
}

}  // namespace

TEST(GMDBConnect, RefusedConnectionsSayWhyButNeverShowThePassword) {
  const struct { const char* dsn; const char* password; const char* cause; } cases[] = {
      {"vudi_no_such_dsn", "secret", "DSN=vudi_no_such_dsn, USER=raruzev, PASS=********\n"},
      {nullptr, nullptr, "DSN=, USER=, PASS=********\nError SQLConnect -1\n"},
      {"vudi", "wrong-password", "Access denied for user 'raruzev'@'localhost'"},
      {"vudi_down", "hidden-password", "Can't connect to local server through socket"},
  };
  GMDB db;  // a refused attempt leaves the object reusable
  for (size_t k = 0; k < (std::getenv("VUDI_TEST_DB_DIR") ? 4 : 2); ++k) {
    CaptureStdout();
    const char* user = cases[k].dsn ? "raruzev" : nullptr;
    EXPECT_FALSE(db.DBConnect(cases[k].dsn, user, cases[k].password));
    const std::string out = GetCapturedStdout();
    EXPECT_TRUE(out.starts_with("the following DSNs are available:\n")) << out;
    EXPECT_NE(out.find(cases[k].cause), std::string::npos) << out;
    EXPECT_EQ(out.find(cases[k].password ? cases[k].password : "(null)"), std::string::npos);
    EXPECT_TRUE(std::cout.good());
  }
  // Not connected: everything else refuses without a word, closing is harmless.
  CaptureStdout();
  SQLHSTMT statement = SQL_NULL_HSTMT;
  std::vector<attr_name_type_info*> none;
  token_description_list read;
  EXPECT_FALSE(db.AllocateStatementHandle(&statement) || db.SQLQuery(&statement, "SELECT 1") ||
               db.DBReadTokens(1, "Container", &none, &read));
  db.DBCloseConnect();
  db.DBCloseConnect();
  EXPECT_EQ(GetCapturedStdout(), "");
  EXPECT_TRUE(read.tokentypename.empty() && read.token_descriptions.empty());
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

TEST_F(GMDBServer, ReadTokensJoinsTheTablesReportsCutsAndAppends) {
  attr_name_type_info number{"Value", SQL_C_SLONG}, text{"NOTE", SQL_C_CHAR},
      flag{"flag", SQL_C_BIT}, stamp{"Stamp", SQL_C_TYPE_TIMESTAMP};
  std::vector<attr_name_type_info*> request{&number, &text, &flag, &stamp}, none;
  token_description_list out;
  CaptureStdout();
  ASSERT_TRUE(db.DBReadTokens(1, "ConTainer", &request, &out));
  ASSERT_TRUE(db.DBReadTokens(1, "container", &none, &out));  // appends, rows without attributes
  EXPECT_FALSE(db.DBReadTokens(-1, "Missing", &none, &out));  // prints the statement, adds nothing
  const std::string printed = GetCapturedStdout();
  for (const char* line : {"DBReadTokens: token 102: text of NOTE cut to 511 characters\n",
                           "DBReadTokens: token 103: text of place name cut to 511 characters\n",
                           "SQLExecDirect failed: SELECT  tname.id, pname.name FROM "
                           "-1_tokens_missing tname, -1_objects_missing oname, -1_places pname "
                           "WHERE tname.object_id = oname.id AND pname.id=tname.place_id\n"
                           "Error in Select -1\n"})
    EXPECT_NE(printed.find(line), std::string::npos) << printed;
  EXPECT_EQ(out.tokentypename, "Missing");
  ASSERT_EQ(out.token_descriptions.size(), 2 * ROW_COUNT);
  EXPECT_TRUE(out.token_descriptions.back()->attributes.empty());
  std::sort(out.token_descriptions.begin(), out.token_descriptions.begin() + ROW_COUNT, byId);
  for (size_t k = 0; k < ROW_COUNT; ++k) {
    const token_description* row = out.token_descriptions[k];
    EXPECT_EQ(row->id, ROWS[k].id);
    EXPECT_EQ(row->place_name, ROWS[k].place);
    std::string values;
    for (size_t a = 0; a < row->attributes.size(); ++a) {
      EXPECT_EQ(row->attributes[a]->name, request[a]->name);
      values += (a > 0 ? " " : "") + show(*row->attributes[a]);
    }
    EXPECT_EQ(values, ROWS[k].values) << k;
  }
  deleteRows(out);
}

TEST_F(GMDBServer, AFailingReadSaysWhyAndKeepsOnlyTheRowsBeforeIt) {
  const struct { const char* type; attr_name_type_info attribute; const char* says; } cases[] = {
      {"container", {"n+(SELECT COUNT(*) FROM mysql.user)", SQL_C_SLONG},
       "DBReadTokens: refused name 'n+(SELECT COUNT(*) FROM mysql.user)': only letters, digits "
       "and underscores are allowed\n"},
      {"container tname UNION SELECT 1, user FROM mysql.user --", {"value", SQL_C_SLONG},
       "DBReadTokens: refused name 'container tname UNION"},
      {"container", {"value", 999}, "Error in BindCol -1 (column 1)\n"},
      {"container", {"big", SQL_C_SLONG}, "Error in Fetch -1\n"},
  };
  for (const auto& c : cases) {
    std::vector<attr_name_type_info*> request{const_cast<attr_name_type_info*>(&c.attribute)};
    token_description_list out;
    CaptureStdout();
    EXPECT_FALSE(db.DBReadTokens(1, c.type, &request, &out));
    const std::string printed = GetCapturedStdout();
    EXPECT_NE(printed.find(c.says), std::string::npos) << printed;
    // Only the fetch fails after rows were taken: those before token 105, never 105 itself.
    EXPECT_EQ(out.token_descriptions.empty(), c.attribute.name != "big");
    for (const token_description* row : out.token_descriptions) EXPECT_NE(row->id, 105);
    deleteRows(out);
  }
}

TEST_F(GMDBServer, CreateTokensFromDBMakesIntTokensOfTheStoredRows) {
  std::vector<token_info*> tokens;
  std::vector<token_reference*> references;
  CaptureStdout();
  Token_int::createTokensFromDB(nullptr, &db, tokens, references);
  GetCapturedStdout();
  EXPECT_TRUE(references.empty());
  ASSERT_EQ(tokens.size(), ROW_COUNT);
  std::sort(tokens.begin(), tokens.end(), byId);
  for (size_t k = 0; k < ROW_COUNT; ++k) {
    EXPECT_EQ(tokens[k]->tokentypename + tokens[k]->token->getName(), "intint");
    EXPECT_EQ(tokens[k]->id, ROWS[k].id);
    EXPECT_EQ(tokens[k]->place_name, ROWS[k].place);
    EXPECT_EQ(tokens[k]->token->content(), ROWS[k].values.substr(0, ROWS[k].values.find(' ')));
    delete tokens[k];
  }
}
