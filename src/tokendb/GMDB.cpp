#include "tokendb/GMDB.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iostream>
#include <limits>
#include <memory>
#include <string_view>

#include "tokendb/GMDBStatement.h"

// The connection, the statement handles and the token read; the marking schema is in
// GMDBMarking.cpp, the generic table access in GMDBTables.cpp.

using GMDBStatement::Fetched;
using GMDBStatement::getInt;
using GMDBStatement::getText;
using GMDBStatement::holdsExactNumbers;
using GMDBStatement::parseInt;
using GMDBStatement::printable;
using GMDBStatement::printDiagnostic;
using GMDBStatement::printFailure;
using GMDBStatement::quoted;
using GMDBStatement::refusedName;
using GMDBStatement::Statement;
using GMDBStatement::succeeded;
using GMDBStatement::TEXT_SIZE;

namespace {

const char* const PASSWORD_MASK = "********";

// The driver's bounds on every wait for the server, in seconds: the login, and each read and write
// after it. A server that stops answering (stopped, or hung) then gives a failed connection or a
// failed read, and the run goes on without the stored tokens, instead of waiting for good; the
// login timeout alone does not reach the handshake over a local socket.
const char* const SERVER_TIMEOUTS = "CONN_TIMEOUT=5;READ_TIMEOUT=10;WRITE_TIMEOUT=10";

// A value of a connect string in braces, inside which only '}' is special (and doubled): a name or
// password holding ';' or '=' cannot add settings of its own.
std::string braced(const char* value) {
  std::string text = "{";
  for (const char* c = printable(value); *c != '\0'; ++c) {
    text += *c;
    if (*c == '}') text += '}';
  }
  return text + "}";
}

// A text column longer than its buffer keeps its first 511 characters; the cut is reported, as the
// record layout cannot carry the rest.
void reportCut(SQLSMALLINT type, SQLLEN indicator, int id, const std::string& what) {
  if (type == SQL_C_CHAR && (indicator == SQL_NO_TOTAL || indicator >= TEXT_SIZE))
    std::cout << "DBReadTokens: token " << id << ": text of " << what << " cut to " << TEXT_SIZE - 1
              << " characters" << std::endl;
}

// A bound text column of the fetched row, taken whole: a NUL byte inside it is part of the text,
// so that a stored name never passes for the name that ends at that byte.
std::string boundText(const char* buffer, SQLLEN indicator) {
  if (indicator == SQL_NULL_DATA) return "";
  const bool whole = indicator >= 0 && indicator < TEXT_SIZE;
  return std::string(buffer, whole ? static_cast<size_t>(indicator) : TEXT_SIZE - 1);
}

// The 32-bit attributes of the fetched row, read as decimal text or as 64-bit integers (`asText`),
// narrowed in their buffers to the layout the rows carry. Returns the index of the first that does
// not fit, or the number of attributes when all do.
size_t narrowValues(const std::vector<attr_name_type_info*>& attributes,
                    const std::vector<bool>& asText,
                    const std::vector<std::unique_ptr<char[]>>& buffers,
                    const std::vector<SQLLEN>& indicators) {
  for (size_t k = 0; k < attributes.size(); ++k) {
    if (attributes[k]->sql_c_type != SQL_C_SLONG || indicators[k] == SQL_NULL_DATA) continue;
    char* const buffer = buffers[k].get();
    SQLINTEGER narrow = 0;
    if (asText[k]) {
      const bool whole = indicators[k] >= 0 && indicators[k] < TEXT_SIZE;
      if (!whole || !parseInt(std::string_view(buffer, static_cast<size_t>(indicators[k])), narrow))
        return k;
      // Cleared, so that no digits trail the number in the row's value.
      std::memset(buffer, 0, static_cast<size_t>(indicators[k]));
    } else {
      SQLBIGINT wide;
      std::memcpy(&wide, buffer, sizeof wide);
      if (wide < std::numeric_limits<SQLINTEGER>::min() ||
          wide > std::numeric_limits<SQLINTEGER>::max())
        return k;
      narrow = static_cast<SQLINTEGER>(wide);
    }
    std::memcpy(buffer, &narrow, sizeof narrow);
  }
  return attributes.size();
}

SQLCHAR* sqlText(const char* text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)); }

}  // namespace

bool GMDB::DBConnect(const char* dsn, const char* user, const char* password) {
  if (connected()) return false;
  if (!succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &V_OD_Env))) {
    std::cout << "Error AllocHandle" << std::endl;
    V_OD_Env = SQL_NULL_HENV;
    return false;
  }
  if (!succeeded(SQLSetEnvAttr(V_OD_Env, SQL_ATTR_ODBC_VERSION,
                               reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0))) {
    std::cout << "Error SetEnv" << std::endl;
    SQLFreeHandle(SQL_HANDLE_ENV, V_OD_Env);
    V_OD_Env = SQL_NULL_HENV;
    return false;
  }
  SQLRETURN code = SQLAllocHandle(SQL_HANDLE_DBC, V_OD_Env, &V_OD_hdbc);
  if (!succeeded(code)) {
    std::cout << "Error AllocHDB " << code << std::endl;
    SQLFreeHandle(SQL_HANDLE_ENV, V_OD_Env);
    V_OD_Env = SQL_NULL_HENV;
    V_OD_hdbc = SQL_NULL_HDBC;
    return false;
  }
  SQLSetConnectAttr(V_OD_hdbc, SQL_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(5), 0);

  std::cout << "the following DSNs are available:" << std::endl;
  SQLCHAR name[TEXT_SIZE];
  SQLCHAR description[TEXT_SIZE];
  SQLSMALLINT nameLength = 0;
  SQLSMALLINT descriptionLength = 0;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  while (succeeded(SQLDataSources(V_OD_Env, direction, name, sizeof name, &nameLength, description,
                                  sizeof description, &descriptionLength))) {
    std::cout << "\tservername='" << reinterpret_cast<const char*>(name) << "', description='"
              << reinterpret_cast<const char*>(description) << "'" << std::endl;
    direction = SQL_FETCH_NEXT;
  }

  // Streaming a null char pointer would put std::cout into its failed state and silence every
  // later line of the run.
  std::cout << "trying to connect to DSN=" << printable(dsn) << ", USER=" << printable(user)
            << ", PASS=" << PASSWORD_MASK << std::endl;
  if (*printable(dsn) == '\0') {
    // Refused as no data source: a connect string without one would fall back to a default.
    code = SQLConnect(V_OD_hdbc, sqlText(""), SQL_NTS, nullptr, 0, nullptr, 0);
  } else {
    const std::string connection = "DSN=" + braced(dsn) + ";UID=" + braced(user) +
                                   ";PWD=" + braced(password) + ";" + SERVER_TIMEOUTS;
    code = SQLDriverConnect(V_OD_hdbc, nullptr, sqlText(connection.c_str()), SQL_NTS, nullptr, 0,
                            nullptr, SQL_DRIVER_NOPROMPT);
  }
  if (succeeded(code)) {
    std::cout << "connection established!" << std::endl;
    return true;
  }
  std::cout << "Error SQLConnect " << code << std::endl;
  printDiagnostic(SQL_HANDLE_DBC, V_OD_hdbc);
  SQLFreeHandle(SQL_HANDLE_DBC, V_OD_hdbc);
  SQLFreeHandle(SQL_HANDLE_ENV, V_OD_Env);
  V_OD_hdbc = SQL_NULL_HDBC;
  V_OD_Env = SQL_NULL_HENV;
  return false;
}

void GMDB::DBCloseConnect() {
  if (V_OD_hdbc != SQL_NULL_HDBC) {
    SQLDisconnect(V_OD_hdbc);
    SQLFreeHandle(SQL_HANDLE_DBC, V_OD_hdbc);
    V_OD_hdbc = SQL_NULL_HDBC;
  }
  if (V_OD_Env != SQL_NULL_HENV) {
    SQLFreeHandle(SQL_HANDLE_ENV, V_OD_Env);
    V_OD_Env = SQL_NULL_HENV;
  }
}

bool GMDB::AllocateStatementHandle(SQLHSTMT* statement) {
  if (!connected()) return false;
  const SQLRETURN code = SQLAllocHandle(SQL_HANDLE_STMT, V_OD_hdbc, statement);
  if (succeeded(code)) return true;
  std::cout << "SQLAllocHandle failed" << std::endl;
  std::cout << "Error in AllocStatement " << code << std::endl;
  printDiagnostic(SQL_HANDLE_DBC, V_OD_hdbc);
  return false;
}

bool GMDB::SQLQuery(SQLHSTMT* statement, const char* sql) {
  if (!connected()) return false;
  const SQLRETURN code = SQLExecDirect(*statement, sqlText(sql), SQL_NTS);
  if (succeeded(code)) return true;
  std::cout << "SQLExecDirect failed: " << sql << std::endl;
  std::cout << "Error in Select " << code << std::endl;
  printDiagnostic(SQL_HANDLE_STMT, *statement);
  return false;
}

std::string GMDB::lcase(std::string text) {
  for (char& c : text) {
    if (c == '\0') break;
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text;
}

bool GMDB::DBReadTokens(int marking, const char* tokentypename,
                        std::vector<attr_name_type_info*>* attributes,
                        token_description_list* out) {
  if (!connected()) return false;
  out->tokentypename = printable(tokentypename);
  if (refusedName("DBReadTokens", out->tokentypename)) return false;
  for (const attr_name_type_info* attribute : *attributes)
    if (refusedName("DBReadTokens", attribute->name)) return false;
  const std::string type = lcase(out->tokentypename);
  const std::string number = std::to_string(marking);

  SQLHSTMT statement = SQL_NULL_HSTMT;
  if (!AllocateStatementHandle(&statement)) return false;
  const auto fail = [&statement](const char* what, SQLRETURN code, const std::string& detail) {
    printFailure(what, code, statement, detail);
    SQLFreeHandle(SQL_HANDLE_STMT, statement);
    return false;
  };

  // Columns are bound once, before execution where the caller's buffer type decides, and every row
  // is copied out of the same buffers.
  // One length/indicator per column, so that NULLs and cut texts are recognised.
  const size_t n = attributes->size();
  std::vector<std::unique_ptr<char[]>> buffers;
  std::vector<SQLLEN> indicators(n + 2, 0);
  SQLINTEGER id = 0;
  char placeName[TEXT_SIZE] = {};
  for (size_t k = 0; k < n + 2; ++k) {
    const auto column = static_cast<SQLUSMALLINT>(k + 1);
    SQLSMALLINT type = SQL_C_CHAR;
    SQLPOINTER buffer = placeName;
    SQLLEN length = TEXT_SIZE;
    if (k < n) {
      buffers.emplace_back(new char[TEXT_SIZE]());
      buffer = buffers.back().get();
      // 32-bit attributes are bound once the result tells their columns' types, below.
      if ((*attributes)[k]->sql_c_type == SQL_C_SLONG) continue;
      type = (*attributes)[k]->sql_c_type;
    } else if (k == n) {
      type = SQL_C_SLONG;
      buffer = &id;
      length = sizeof id;
    }
    const SQLRETURN code = SQLBindCol(statement, column, type, buffer, length, &indicators[k]);
    if (!succeeded(code))
      return fail("Error in BindCol", code, " (column " + std::to_string(column) + ")");
  }

  std::string sql = "SELECT ";
  for (size_t k = 0; k < n; ++k) {
    if (k > 0) sql += ", ";
    sql += "oname." + quoted(lcase((*attributes)[k]->name));
  }
  if (n > 0) sql += ",";
  sql += " tname.id, pname.name FROM " + quoted(number + "_tokens_" + type) + " tname, " +
         quoted(number + "_objects_" + type) + " oname, " + quoted(number + "_places") +
         " pname WHERE tname.object_id = oname.id AND pname.id=tname.place_id";

  if (!SQLQuery(&statement, sql.c_str())) {
    SQLFreeHandle(SQL_HANDLE_STMT, statement);
    return false;
  }
  // 32-bit attributes are read wide and narrowed below: the driver would fail the whole fetch for
  // one value that does not fit, naming neither its row nor its column. Exact numbers come as
  // their decimal text, which no conversion has wrapped.
  std::vector<bool> asText(n, false);
  for (size_t k = 0; k < n; ++k) {
    if ((*attributes)[k]->sql_c_type != SQL_C_SLONG) continue;
    const auto column = static_cast<SQLUSMALLINT>(k + 1);
    asText[k] = holdsExactNumbers(statement, column);
    const SQLRETURN code = SQLBindCol(statement, column, asText[k] ? SQL_C_CHAR : SQL_C_SBIGINT,
                                      buffers[k].get(), TEXT_SIZE, &indicators[k]);
    if (!succeeded(code))
      return fail("Error in BindCol", code, " (column " + std::to_string(column) + ")");
  }
  // A row whose value does not fit its attribute is left out, saying where it lies; the rows
  // after it are read all the same.
  const std::string tokens = number + "_tokens_" + type, objects = number + "_objects_" + type;
  SQLRETURN code = SQL_SUCCESS;
  for (;;) {
    // The driver writes no indicator for some set values (a BIT column's): one left at
    // SQL_NULL_DATA by an earlier row would turn every later value of its column into a NULL.
    std::fill(indicators.begin(), indicators.end(), 0);
    if (!succeeded(code = SQLFetch(statement))) break;
    const SQLINTEGER token = indicators[n] == SQL_NULL_DATA ? 0 : id;
    if (const size_t unfit = narrowValues(*attributes, asText, buffers, indicators); unfit < n) {
      // Not the value itself: the driver's conversion of an inexact column gives a stand-in for
      // one that does not fit.
      std::cout << "DBReadTokens: token " << token << " of " << tokens << " left out: its "
                << lcase((*attributes)[unfit]->name) << " in " << objects
                << " does not fit a 32-bit integer" << std::endl;
      continue;
    }
    // A driver may fill a cut text column to the last byte without a terminator; the text ends
    // at 511 characters.
    placeName[TEXT_SIZE - 1] = '\0';
    for (auto& buffer : buffers) buffer[TEXT_SIZE - 1] = '\0';
    auto* row = new token_description;
    row->id = token;
    row->place_name = boundText(placeName, indicators[n + 1]);
    reportCut(SQL_C_CHAR, indicators[n + 1], row->id, "place name");
    for (size_t k = 0; k < n; ++k) {
      auto* value = new token_attribute;
      value->name = (*attributes)[k]->name;
      value->sql_c_type = (*attributes)[k]->sql_c_type;
      if (indicators[k] != SQL_NULL_DATA) std::memcpy(value->value, buffers[k].get(), TEXT_SIZE);
      reportCut(value->sql_c_type, indicators[k], row->id, value->name);
      row->attributes.push_back(value);
    }
    out->token_descriptions.push_back(row);
  }
  if (code != SQL_NO_DATA) return fail("Error in Fetch", code, "");
  SQLFreeHandle(SQL_HANDLE_STMT, statement);
  return true;
}

bool GMDB::DBGetMarkings(std::vector<marking_info*>& markings) {
  if (!connected()) return false;
  Statement statement(*this);
  if (!statement || !statement.run("SELECT id, name FROM markings")) return false;
  for (;;) {
    const Fetched fetched = statement.fetch();
    if (fetched != Fetched::Row) return fetched == Fetched::End;
    SQLINTEGER id = 0;
    std::string name;
    if (!getInt(statement.handle(), 1, id, "DBGetMarkings") ||
        !getText(statement.handle(), 2, name, "DBGetMarkings"))
      return false;
    markings.push_back(new marking_info{id, name});
  }
}
