#include "tokendb/GMDB.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstring>
#include <iostream>
#include <limits>
#include <memory>
#include <string_view>
#include <variant>

namespace {

const int TEXT_SIZE = 512;

const char* const PASSWORD_MASK = "********";

bool succeeded(SQLRETURN code) { return code == SQL_SUCCESS || code == SQL_SUCCESS_WITH_INFO; }

// The driver's first diagnostic record of a handle: its message and native error code.
void printDiagnostic(SQLSMALLINT handleType, SQLHANDLE handle) {
  SQLCHAR state[6] = {};
  SQLCHAR message[TEXT_SIZE] = {};
  SQLINTEGER nativeError = 0;
  SQLSMALLINT length = 0;
  SQLGetDiagRec(handleType, handle, 1, state, &nativeError, message, sizeof message, &length);
  std::cout << reinterpret_cast<const char*>(message) << " (" << nativeError << ")" << std::endl;
}

const char* printable(const char* text) { return text != nullptr ? text : ""; }

// The server's limit on the length of a table or column name.
const size_t NAME_SIZE = 64;

// A refused name may be anything, megabytes long or full of terminal escapes: it is echoed as its
// first characters up to the name limit, with bytes that are not printable ASCII as \xNN.
std::string shown(std::string_view name) {
  static const char HEX[] = "0123456789abcdef";
  std::string text;
  for (const unsigned char c : name.substr(0, NAME_SIZE)) {
    if (c >= ' ' && c <= '~') {
      text += static_cast<char>(c);
    } else {
      text += "\\x";
      text += HEX[c >> 4];
      text += HEX[c & 15];
    }
  }
  return text;
}

// Names pasted into a statement: ASCII letters, digits and underscores only (a NUL inside the name
// included), so that no name can end the identifier and add SQL of its own. Quoting alone would
// leave that to the server's rules. A name beyond the server's limit is refused before a statement
// is built, as one of megabytes would exceed the packet limit and make the server hang up.
bool refusedName(const char* who, std::string_view name) {
  const bool tooLong = name.size() > NAME_SIZE;
  const bool plain = !tooLong && !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  });
  if (plain) return false;
  std::cout << who << ": refused name '" << shown(name) << "': ";
  if (tooLong) std::cout << "longer than " << NAME_SIZE << " characters" << std::endl;
  else std::cout << "only letters, digits and underscores are allowed" << std::endl;
  return true;
}

// A text column longer than its buffer keeps its first 511 characters; the cut is reported, as the
// record layout cannot carry the rest.
void reportCut(SQLSMALLINT type, SQLLEN indicator, int id, const std::string& what) {
  if (type == SQL_C_CHAR && (indicator == SQL_NO_TOTAL || indicator >= TEXT_SIZE))
    std::cout << "DBReadTokens: token " << id << ": text of " << what << " cut to " << TEXT_SIZE - 1
              << " characters" << std::endl;
}

SQLCHAR* sqlText(const char* text) { return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text)); }

// A failed call on a statement: what failed, its return code, then the driver's diagnostic.
void printFailure(const char* what, SQLRETURN code, SQLHSTMT statement,
                  const std::string& detail = "") {
  std::cout << what << " " << code << detail << std::endl;
  printDiagnostic(SQL_HANDLE_STMT, statement);
}

// Longest text a read takes; a longer one is refused rather than grown without bound.
const SQLLEN TEXT_CAP = 1 << 20;
// The caller's text buffers of DBReadRow, with room for the terminating NUL.
const size_t ROW_TEXT_SIZE = 200;

// A value bound to a parameter marker; std::monostate is SQL NULL.
using Value = std::variant<std::monostate, std::string, SQLINTEGER, float, double>;

enum class Fetched { Row, End, Failed };

// Runs `sql` on `statement` with its markers bound to `values` in order. The previous statement's
// cursor and parameters are let go first, so that one handle serves a sequence of statements.
bool execute(GMDB& db, SQLHSTMT statement, const std::string& sql,
             const std::vector<Value>& values = {}) {
  SQLFreeStmt(statement, SQL_CLOSE);
  SQLFreeStmt(statement, SQL_RESET_PARAMS);
  std::vector<SQLLEN> lengths(values.size(), 0);
  for (size_t k = 0; k < values.size(); ++k) {
    SQLSMALLINT cType = SQL_C_CHAR;
    SQLSMALLINT sqlType = SQL_VARCHAR;
    SQLULEN size = 1;
    SQLPOINTER data = nullptr;
    if (const auto* text = std::get_if<std::string>(&values[k])) {
      lengths[k] = static_cast<SQLLEN>(text->size());
      size = std::max<SQLULEN>(text->size(), 1);
      data = const_cast<char*>(text->data());
    } else if (const auto* number = std::get_if<SQLINTEGER>(&values[k])) {
      cType = SQL_C_SLONG, sqlType = SQL_INTEGER, data = const_cast<SQLINTEGER*>(number);
    } else if (const auto* real = std::get_if<float>(&values[k])) {
      cType = SQL_C_FLOAT, sqlType = SQL_REAL, data = const_cast<float*>(real);
    } else if (const auto* real = std::get_if<double>(&values[k])) {
      cType = SQL_C_DOUBLE, sqlType = SQL_DOUBLE, data = const_cast<double*>(real);
    } else {
      lengths[k] = SQL_NULL_DATA;
    }
    const SQLRETURN code =
        SQLBindParameter(statement, static_cast<SQLUSMALLINT>(k + 1), SQL_PARAM_INPUT, cType,
                         sqlType, size, 0, data, std::max<SQLLEN>(lengths[k], 0), &lengths[k]);
    if (!succeeded(code)) {
      printFailure("Error in BindParameter", code, statement);
      return false;
    }
  }
  return db.SQLQuery(&statement, sql.c_str());
}

Fetched fetchRow(SQLHSTMT statement) {
  const SQLRETURN code = SQLFetch(statement);
  if (succeeded(code)) return Fetched::Row;
  if (code == SQL_NO_DATA) return Fetched::End;
  printFailure("Error in Fetch", code, statement);
  return Fetched::Failed;
}

// The statement handle of one operation, freed on every path.
class Statement {
 public:
  explicit Statement(GMDB& db) : db_(db) {
    if (!db.AllocateStatementHandle(&handle_)) handle_ = SQL_NULL_HSTMT;
  }
  ~Statement() {
    if (handle_ != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, handle_);
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  explicit operator bool() const { return handle_ != SQL_NULL_HSTMT; }
  SQLHSTMT handle() const { return handle_; }
  bool run(const std::string& sql, const std::vector<Value>& values = {}) {
    return execute(db_, handle_, sql, values);
  }
  Fetched fetch() { return fetchRow(handle_); }

 private:
  GMDB& db_;
  SQLHSTMT handle_ = SQL_NULL_HSTMT;
};

// One statement on a handle of its own.
bool runOnce(GMDB& db, const std::string& sql, const std::vector<Value>& values = {}) {
  Statement statement(db);
  return statement && statement.run(sql, values);
}

// A number column of the fetched row; NULL reads as 0.
template <class Number>
bool getNumber(SQLHSTMT statement, SQLUSMALLINT column, SQLSMALLINT type, Number& number) {
  Number read{};
  SQLLEN length = 0;
  const SQLRETURN code = SQLGetData(statement, column, type, &read, sizeof read, &length);
  if (!succeeded(code)) {
    printFailure("Error in GetData", code, statement);
    return false;
  }
  number = length == SQL_NULL_DATA ? Number{} : read;
  return true;
}

// The driver cuts a number that does not fit its buffer without a word, so ints and floats are
// read wide and narrowed here, refusing what does not fit.
template <class Narrow, class Wide>
bool getNarrow(SQLHSTMT statement, SQLUSMALLINT column, SQLSMALLINT wideType, Narrow& number,
               const char* who) {
  Wide wide{};
  if (!getNumber(statement, column, wideType, wide)) return false;
  if (wide < std::numeric_limits<Narrow>::lowest() || wide > std::numeric_limits<Narrow>::max()) {
    std::cout << who << ": value " << wide << " out of range" << std::endl;
    return false;
  }
  number = static_cast<Narrow>(wide);
  return true;
}

bool getInt(SQLHSTMT statement, SQLUSMALLINT column, SQLINTEGER& number, const char* who) {
  return getNarrow<SQLINTEGER, SQLBIGINT>(statement, column, SQL_C_SBIGINT, number, who);
}

// A text column of the fetched row, whatever its length up to the cap; NULL reads as empty text.
// The first piece tells the whole length, so the rest comes in one more call.
bool getText(SQLHSTMT statement, SQLUSMALLINT column, std::string& text, const char* who) {
  text.clear();
  std::vector<char> piece(TEXT_SIZE);
  for (;;) {
    SQLLEN length = 0;
    const SQLRETURN code =
        SQLGetData(statement, column, SQL_C_CHAR, piece.data(), piece.size(), &length);
    if (code == SQL_NO_DATA || (succeeded(code) && length == SQL_NULL_DATA)) return true;
    if (!succeeded(code)) {
      printFailure("Error in GetData", code, statement);
      return false;
    }
    const bool known = length != SQL_NO_TOTAL;
    const bool whole = known && length < static_cast<SQLLEN>(piece.size());
    if ((known && static_cast<SQLLEN>(text.size()) + length > TEXT_CAP) ||
        static_cast<SQLLEN>(text.size()) >= TEXT_CAP) {
      std::cout << who << ": text longer than " << TEXT_CAP << " characters refused" << std::endl;
      return false;
    }
    text.append(piece.data(), whole ? static_cast<size_t>(length) : piece.size() - 1);
    if (whole) return true;
    if (known) piece.resize(static_cast<size_t>(length) - (piece.size() - 1) + 1);
  }
}

// Column types of the format letters of the generic table access.
struct FormatLetter {
  char letter;
  const char* columnType;
};
const FormatLetter FORMAT_LETTERS[] = {
    {'s', " VARCHAR(199) NOT NULL,"},
    {'i', " INT NOT NULL,"},
    {'f', " FLOAT NOT NULL,"},
    {'d', " DOUBLE NOT NULL,"},
    {'b', " ENUM('False','True') NOT NULL,"},
    {'a', " DATE NOT NULL,"},
    {'m', " TIME NOT NULL,"},
    {'t', " DATETIME NOT NULL,"},
};

const char* columnType(char letter) {
  for (const FormatLetter& known : FORMAT_LETTERS)
    if (known.letter == letter) return known.columnType;
  return nullptr;
}

bool isText(char letter) {
  return letter == 's' || letter == 'a' || letter == 'm' || letter == 't';
}

// The letters of a format such as "%s%i%b", split at every '%' with empty pieces skipped; empty
// unless every piece is exactly one known letter. Checked whole before any argument is taken, as
// one wrong entry would make every later one read the wrong argument.
std::string formatLetters(const char* format) {
  std::string letters;
  std::string_view rest = printable(format);
  while (!rest.empty()) {
    const size_t end = std::min(rest.find('%'), rest.size());
    const std::string_view piece = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    if (piece.empty()) continue;
    if (piece.size() != 1 || columnType(piece[0]) == nullptr) return "";
    letters += piece[0];
  }
  return letters;
}

// A text value; no text is SQL NULL.
Value textValue(const char* text) { return text != nullptr ? Value(std::string(text)) : Value(); }

// The value argument of one entry: a text, a pointer to a number, or a bool (passed as an int).
Value takeValue(char letter, va_list& args) {
  if (isText(letter)) return textValue(va_arg(args, const char*));
  switch (letter) {
    case 'i': {
      const int* number = va_arg(args, const int*);
      return number != nullptr ? Value(static_cast<SQLINTEGER>(*number)) : Value();
    }
    case 'f': {
      const float* number = va_arg(args, const float*);
      return number != nullptr ? Value(*number) : Value();
    }
    case 'd': {
      const double* number = va_arg(args, const double*);
      return number != nullptr ? Value(*number) : Value();
    }
    default: return std::string(va_arg(args, int) != 0 ? "True" : "False");
  }
}

// The output argument of one entry of DBReadRow.
void* takeOutput(char letter, va_list& args) {
  if (isText(letter)) return va_arg(args, char*);
  switch (letter) {
    case 'i': return va_arg(args, int*);
    case 'f': return va_arg(args, float*);
    case 'd': return va_arg(args, double*);
    default: return va_arg(args, bool*);
  }
}

// A stored boolean: its text, or the number that a number column reads as; NULL reads as false.
bool parseBool(const std::string& text, SQLINTEGER& value) {
  for (const char* yes : {"True", "1", "T"})
    if (text == yes) {
      value = 1;
      return true;
    }
  for (const char* no : {"False", "0", "F", ""})
    if (text == no) {
      value = 0;
      return true;
    }
  std::cout << "No boolean format!" << std::endl;
  return false;
}

// One column of the fetched row as its format letter reads it: texts whole, a bool as 0 or 1.
bool getColumn(SQLHSTMT statement, SQLUSMALLINT column, char letter, Value& value,
               const char* who) {
  std::string text;
  switch (letter) {
    case 'i': return getInt(statement, column, value.emplace<SQLINTEGER>(), who);
    case 'f':
      return getNarrow<float, double>(statement, column, SQL_C_DOUBLE, value.emplace<float>(), who);
    case 'd': return getNumber(statement, column, SQL_C_DOUBLE, value.emplace<double>());
    case 'b':
      return getText(statement, column, text, who) && parseBool(text, value.emplace<SQLINTEGER>());
    default: return getText(statement, column, value.emplace<std::string>(), who);
  }
}

// Stores a value read by DBReadRow in the caller's output; a text is cut to fit its buffer.
void putOutput(char letter, const Value& value, void* output, const std::string& column) {
  switch (letter) {
    case 'i': *static_cast<int*>(output) = std::get<SQLINTEGER>(value); return;
    case 'f': *static_cast<float*>(output) = std::get<float>(value); return;
    case 'd': *static_cast<double*>(output) = std::get<double>(value); return;
    case 'b': *static_cast<bool*>(output) = std::get<SQLINTEGER>(value) != 0; return;
  }
  const std::string& text = std::get<std::string>(value);
  char* buffer = static_cast<char*>(output);
  std::memset(buffer, 0, ROW_TEXT_SIZE);
  std::memcpy(buffer, text.data(), std::min(text.size(), ROW_TEXT_SIZE - 1));
  if (text.size() >= ROW_TEXT_SIZE)
    std::cout << "DBReadRow: text of " << column << " cut to " << ROW_TEXT_SIZE - 1 << " characters"
              << std::endl;
}

// Takes the entries of a format from `args`: its column names, each checked, and whatever
// `take` takes for the rest of each entry. False after a message when the table name, the format
// or a column name is refused.
template <class Take>
bool takeEntries(const char* who, const char* wrongTypes, const char* table, const char* format,
                 va_list& args, std::vector<std::string>& columns, Take take) {
  if (refusedName(who, printable(table))) return false;
  const std::string letters = formatLetters(format);
  if (letters.empty()) {
    std::cout << wrongTypes << std::endl;
    return false;
  }
  for (const char letter : letters) {
    columns.emplace_back(printable(va_arg(args, const char*)));
    if (refusedName(who, columns.back())) return false;
    take(letter);
  }
  return true;
}

// The entries of DBInsertRow and DBUpdateRow: column names and values.
bool takeValues(const char* who, const char* wrongTypes, const char* table, const char* format,
                va_list& args, std::vector<std::string>& columns, std::vector<Value>& values) {
  return takeEntries(who, wrongTypes, table, format, args, columns,
                     [&](char letter) { values.push_back(takeValue(letter, args)); });
}

std::string join(const std::vector<std::string>& pieces, const char* separator,
                 const char* suffix = "") {
  std::string joined;
  for (const std::string& piece : pieces)
    joined += (joined.empty() ? "" : separator) + piece + suffix;
  return joined;
}

// The whole statement of a row update: every column or none.
bool updateRow(GMDB& db, const char* table, int id, const std::vector<std::string>& columns,
               const std::vector<Value>& values) {
  return runOnce(db,
                 "UPDATE " + std::string(table) + " SET " + join(columns, ", ", " = ?") +
                     " WHERE Id = " + std::to_string(id),
                 values);
}

// Buffer types and the SQL type whose rows the driver lists for them; `wantUnsigned` picks a
// row by its UNSIGNED_ATTRIBUTE (-1: the first row).
struct TypeMapping {
  SQLSMALLINT bufferType;
  SQLSMALLINT sqlType;
  int wantUnsigned;
};
const TypeMapping TYPE_MAPPINGS[] = {
    {SQL_C_UTINYINT, SQL_TINYINT, 1},  {SQL_C_ULONG, SQL_INTEGER, 1},
    {SQL_C_USHORT, SQL_SMALLINT, 1},   {SQL_C_STINYINT, SQL_TINYINT, 0},
    {SQL_C_SLONG, SQL_INTEGER, 0},     {SQL_C_SSHORT, SQL_SMALLINT, 0},
    {SQL_C_CHAR, SQL_LONGVARCHAR, -1},
};

// Reads one value of row `id` as `letter` reads it and hands it to `put`, which a failed read
// never calls.
template <class Put>
bool readOne(GMDB& db, const char* who, char letter, const char* table, const char* column, int id,
             Put put) {
  if (refusedName(who, printable(table)) || refusedName(who, printable(column))) return false;
  Statement statement(db);
  Value value;
  if (!statement || !db.SQLReadValue(statement.handle(), table, column, id) ||
      !getColumn(statement.handle(), 1, letter, value, who))
    return false;
  put(value);
  return true;
}

// Sets one column of row `id`.
bool updateOne(GMDB& db, const char* who, const char* column, const char* table, int id,
               Value value) {
  if (refusedName(who, printable(table)) || refusedName(who, printable(column))) return false;
  return updateRow(db, table, id, {column}, {std::move(value)});
}

const char* const MARKINGS_TABLE =
    "CREATE TABLE markings (id int not null, name long varchar, primary key (id))";

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
  code = SQLConnect(V_OD_hdbc, sqlText(dsn), SQL_NTS, sqlText(user), SQL_NTS, sqlText(password),
                    SQL_NTS);
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

  // Columns are bound once before execution and every row is copied out of the same buffers.
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
      type = (*attributes)[k]->sql_c_type;
      buffers.emplace_back(new char[TEXT_SIZE]());
      buffer = buffers.back().get();
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
    sql += "oname." + lcase((*attributes)[k]->name);
  }
  if (n > 0) sql += ",";
  sql += " tname.id, pname.name FROM " + number + "_tokens_" + type + " tname, " + number +
         "_objects_" + type + " oname, " + number +
         "_places pname WHERE tname.object_id = oname.id AND pname.id=tname.place_id";

  if (!SQLQuery(&statement, sql.c_str())) {
    SQLFreeHandle(SQL_HANDLE_STMT, statement);
    return false;
  }
  SQLRETURN code = SQL_SUCCESS;
  while (succeeded(code = SQLFetch(statement))) {
    // A driver may fill a cut text column to the last byte without a terminator; the text ends
    // at 511 characters.
    placeName[TEXT_SIZE - 1] = '\0';
    for (auto& buffer : buffers) buffer[TEXT_SIZE - 1] = '\0';
    auto* row = new token_description;
    row->id = indicators[n] == SQL_NULL_DATA ? 0 : id;
    row->place_name = indicators[n + 1] == SQL_NULL_DATA ? "" : placeName;
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

bool GMDB::DBCreateMarking(marking_description* marking) {
  if (!connected() || marking == nullptr) return false;
  // Every name that becomes part of a table or column name, and every column type, is settled
  // before anything is created.
  std::vector<std::string> objectColumns;
  for (const tokentype_description* type : marking->tokentypes) {
    if (refusedName("DBCreateMarking", type->tokentypename)) return false;
    std::string columns;
    for (const attr_name_type_info* attribute : type->attributes) {
      const std::string name = lcase(attribute->name);
      std::string typeName;
      if (refusedName("DBCreateMarking", name)) return false;
      if (!SQLGetTypeName(attribute->sql_c_type, typeName)) {
        std::cout << "Couldn't get sqltype name for '" << name << "' type=" << attribute->sql_c_type
                  << std::endl;
        return false;
      }
      columns += ", " + name + " " + typeName;
    }
    objectColumns.push_back(columns);
  }

  Statement statement(*this);
  if (!statement) return false;
  // A marking that lacks one of its tables or places would lose tokens in the join of the token
  // read, so a failure takes back every table that this call created.
  std::vector<std::string> created;
  const auto fail = [&](const std::string& message) {
    std::cout << message << std::endl;
    for (auto table = created.rbegin(); table != created.rend(); ++table)
      statement.run("DROP TABLE " + *table);
    return false;
  };
  const auto create = [&](const std::string& table, const std::string& columns) {
    if (!statement.run("CREATE TABLE " + table + columns)) return false;
    created.push_back(table);
    return true;
  };

  // No markings table yet is the normal course before the first marking; a table without rows
  // (MAX(id) is NULL) gives marking 1 as well.
  SQLINTEGER last = 0;
  if (statement.run("SELECT MAX(id) FROM markings")) {
    if (statement.fetch() != Fetched::Row ||
        !getInt(statement.handle(), 1, last, "DBCreateMarking"))
      return false;
  } else if (statement.run(MARKINGS_TABLE)) {
    created.push_back("markings");
  } else {
    return false;
  }
  const std::string number = std::to_string(static_cast<long long>(last) + 1);

  const std::string places = number + "_places";
  if (!create(places, " (id int not null, name long varchar, primary key (id))"))
    return fail("Couldn't create table '" + places + "'");
  int place = 0;
  for (const std::string& name : marking->placenames)
    if (!statement.run(
            "INSERT INTO " + places + " (id, name) values(" + std::to_string(++place) + ", ?)",
            {name}))
      return fail("Couldn't store place '" + name + "' in table " + places);
  for (size_t k = 0; k < marking->tokentypes.size(); ++k) {
    const std::string type = lcase(marking->tokentypes[k]->tokentypename);
    const std::string tokens = number + "_tokens_" + type;
    const std::string objects = number + "_objects_" + type;
    if (!create(tokens, " (id int not null, object_id int, place_id int, primary key (id))"))
      return fail("Couldn't create table '" + tokens + "'");
    if (!create(objects, " (id int not null, primary key (id)" + objectColumns[k] + ")"))
      return fail("Couldn't create table '" + objects + "'");
  }
  if (!statement.run("INSERT INTO markings (id, name) values(" + number + ", ?)",
                     {marking->markingname}))
    return fail("Couldn't insert new marking '" + marking->markingname + "'");
  return true;
}

bool GMDB::SQLGetTypeName(SQLSMALLINT bufferType, std::string& typeName) {
  if (!connected()) return false;
  Statement statement(*this);
  if (!statement) return false;
  TypeMapping mapping{bufferType, bufferType, -1};
  for (const TypeMapping& known : TYPE_MAPPINGS)
    if (known.bufferType == bufferType) mapping = known;

  const SQLRETURN code = SQLGetTypeInfo(statement.handle(), mapping.sqlType);
  if (!succeeded(code)) {
    std::cout << "SQLGetTypeInfo failed: type=" << mapping.sqlType << std::endl;
    printFailure("Error in GetTypeInfo", code, statement.handle());
    return false;
  }
  while (statement.fetch() == Fetched::Row) {
    std::string name;
    SQLSMALLINT isUnsigned = 0;
    if (!getText(statement.handle(), 1, name, "SQLGetTypeName") ||
        (mapping.wantUnsigned >= 0 && !getNumber(statement.handle(), 10, SQL_C_SSHORT, isUnsigned)))
      return false;
    if (mapping.wantUnsigned < 0 || isUnsigned == mapping.wantUnsigned) {
      typeName = name;
      return true;
    }
  }
  return false;
}

bool GMDB::SQLReadValue(SQLHSTMT statement, const char* table, const char* column, int id) {
  if (!connected() || refusedName("SQLReadValue", printable(table)) ||
      refusedName("SQLReadValue", printable(column)))
    return false;
  return execute(*this, statement,
                 "SELECT " + std::string(column) + " FROM " + table +
                     " WHERE id = " + std::to_string(id)) &&
         fetchRow(statement) == Fetched::Row;
}

bool GMDB::DBReadStr(std::string& value, const char* table, const char* column, int id) {
  return connected() && readOne(*this, "DBReadStr", 's', table, column, id,
                                [&](const Value& read) { value = std::get<std::string>(read); });
}

bool GMDB::DBReadInt(int* value, const char* table, const char* column, int id) {
  return connected() && readOne(*this, "DBReadInt", 'i', table, column, id,
                                [&](const Value& read) { *value = std::get<SQLINTEGER>(read); });
}

bool GMDB::DBReadFloat(float* value, const char* table, const char* column, int id) {
  return connected() && readOne(*this, "DBReadFloat", 'f', table, column, id,
                                [&](const Value& read) { *value = std::get<float>(read); });
}

bool GMDB::DBReadDouble(double* value, const char* table, const char* column, int id) {
  return connected() && readOne(*this, "DBReadDouble", 'd', table, column, id,
                                [&](const Value& read) { *value = std::get<double>(read); });
}

bool GMDB::DBReadBool(bool* value, const char* table, const char* column, int id) {
  return connected() &&
         readOne(*this, "DBReadBool", 'b', table, column, id,
                 [&](const Value& read) { *value = std::get<SQLINTEGER>(read) != 0; });
}

bool GMDB::DBReadDateTime(std::string& value, const char* table, const char* column, int id) {
  return connected() && readOne(*this, "DBReadDateTime", 't', table, column, id,
                                [&](const Value& read) { value = std::get<std::string>(read); });
}

bool GMDB::DBUpdateStr(const char* value, const char* column, const char* table, int id) {
  return connected() && updateOne(*this, "DBUpdateStr", column, table, id, textValue(value));
}

bool GMDB::DBUpdateDate(const char* value, const char* column, const char* table, int id) {
  return connected() && updateOne(*this, "DBUpdateDate", column, table, id, textValue(value));
}

bool GMDB::DBUpdateTime(const char* value, const char* column, const char* table, int id) {
  return connected() && updateOne(*this, "DBUpdateTime", column, table, id, textValue(value));
}

bool GMDB::DBUpdateDateTime(const char* value, const char* column, const char* table, int id) {
  return connected() && updateOne(*this, "DBUpdateDateTime", column, table, id, textValue(value));
}

bool GMDB::DBUpdateInt(int value, const char* column, const char* table, int id) {
  return connected() &&
         updateOne(*this, "DBUpdateInt", column, table, id, static_cast<SQLINTEGER>(value));
}

bool GMDB::DBUpdateFloat(float value, const char* column, const char* table, int id) {
  return connected() && updateOne(*this, "DBUpdateFloat", column, table, id, value);
}

bool GMDB::DBUpdateDouble(double value, const char* column, const char* table, int id) {
  return connected() && updateOne(*this, "DBUpdateDouble", column, table, id, value);
}

bool GMDB::DBUpdateBool(bool value, const char* column, const char* table, int id) {
  return connected() &&
         updateOne(*this, "DBUpdateBool", column, table, id, std::string(value ? "True" : "False"));
}

bool GMDB::DBInsertRow(const char* table, const char* format, ...) {
  std::vector<std::string> columns;
  std::vector<Value> values;
  va_list args;
  va_start(args, format);
  const bool taken =
      connected() && takeValues("DBInsertRow", "Wrong types", table, format, args, columns, values);
  va_end(args);
  return taken &&
         runOnce(*this,
                 "INSERT INTO " + std::string(table) + " (" + join(columns, ",") + ") VALUES (" +
                     join(std::vector<std::string>(values.size(), "?"), ",") + ")",
                 values);
}

bool GMDB::DBUpdateRow(const char* table, const char* format, int id, ...) {
  std::vector<std::string> columns;
  std::vector<Value> values;
  va_list args;
  va_start(args, id);
  const bool taken = connected() && takeValues("DBUpdateRow", "Wrong types.", table, format, args,
                                               columns, values);
  va_end(args);
  return taken && updateRow(*this, table, id, columns, values);
}

bool GMDB::DBReadRow(const char* table, const char* format, int id, ...) {
  std::vector<std::string> columns;
  std::string letters;
  std::vector<void*> outputs;
  va_list args;
  va_start(args, id);
  const bool taken = connected() && takeEntries("DBReadRow", "Wrong types.", table, format, args,
                                                columns, [&](char letter) {
                                                  letters += letter;
                                                  outputs.push_back(takeOutput(letter, args));
                                                });
  va_end(args);
  if (!taken) return false;

  Statement statement(*this);
  if (!statement ||
      !statement.run("SELECT " + join(columns, ", ") + " FROM " + table +
                     " WHERE Id = " + std::to_string(id)) ||
      statement.fetch() != Fetched::Row)
    return false;
  std::vector<Value> values(columns.size());
  for (size_t k = 0; k < columns.size(); ++k)
    if (!getColumn(statement.handle(), static_cast<SQLUSMALLINT>(k + 1), letters[k], values[k],
                   "DBReadRow"))
      return false;
  for (size_t k = 0; k < columns.size(); ++k)
    putOutput(letters[k], values[k], outputs[k], columns[k]);
  return true;
}

bool GMDB::DBDeleteRow(const char* table, int id) {
  return connected() && !refusedName("DBDeleteRow", printable(table)) &&
         runOnce(*this, "DELETE FROM " + std::string(table) + " WHERE Id = " + std::to_string(id));
}

bool GMDB::DBCreateTbl(const char* table, const char* format, ...) {
  std::vector<std::string> columns;
  std::string definitions;
  va_list args;
  va_start(args, format);
  const bool taken =
      connected() &&
      takeEntries("DBCreateTbl", "Wrong types", table, format, args, columns,
                  [&](char letter) { definitions += " " + columns.back() + columnType(letter); });
  va_end(args);
  if (!taken) return false;
  definitions.pop_back();  // the comma after the last column
  return runOnce(*this,
                 "CREATE TABLE IF NOT EXISTS " + std::string(table) + " (" + definitions + ")");
}

bool GMDB::DBDropTbl(const char* table) {
  return connected() && !refusedName("DBDropTbl", printable(table)) &&
         runOnce(*this, "DROP TABLE IF EXISTS " + std::string(table));
}

std::map<int, double> GMDB::DBReadFrequencies() {
  std::map<int, double> frequencies;
  if (!connected()) return frequencies;
  Statement statement(*this);
  // Index is a reserved word.
  if (!statement || !statement.run("SELECT `Index`, Frequency FROM Passenger")) return frequencies;
  SQLINTEGER index = 0;
  double frequency = 0;
  while (statement.fetch() == Fetched::Row &&
         getInt(statement.handle(), 1, index, "DBReadFrequencies") &&
         getNumber(statement.handle(), 2, SQL_C_DOUBLE, frequency))
    frequencies.emplace(index, frequency);
  return frequencies;
}

bool GMDB::DBCreateDB(const char*, const char*) { return false; }

bool GMDB::DBDropDB(const char*) { return false; }
