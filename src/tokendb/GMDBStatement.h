#pragma once

#include <iostream>
#include <limits>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "tokendb/GMDB.h"

// What the sources of GMDB share: statements on handles of their own, their bound values and the
// columns of their rows. Private to tokendb; the other layers see GMDB.h alone.

namespace GMDBStatement {

const int TEXT_SIZE = 512;

inline bool succeeded(SQLRETURN code) {
  return code == SQL_SUCCESS || code == SQL_SUCCESS_WITH_INFO;
}

// The driver's first diagnostic record of a handle: its message and native error code.
void printDiagnostic(SQLSMALLINT handleType, SQLHANDLE handle);

inline const char* printable(const char* text) { return text != nullptr ? text : ""; }

// Names pasted into a statement: ASCII letters, digits and underscores only (a NUL inside the name
// included), so that no name can end the identifier and add SQL of its own. Quoting alone would
// leave that to the server's rules. A name beyond the server's limit is refused before a statement
// is built, as one of megabytes would exceed the packet limit and make the server hang up.
bool refusedName(const char* who, std::string_view name);

// A name that refusedName let through, as an identifier of the statement: quoted, so that a name
// SQL would also read as a word, a function or a number (CURRENT_USER, 1e3, -1_places) is always
// the table or column of that name.
inline std::string quoted(std::string_view name) {
  // Built in place: the release build's optimiser warns wrongly of an overlapping copy on
  // "`" + a temporary string.
  std::string text;
  text.reserve(name.size() + 2);
  return text.append(1, '`').append(name).append(1, '`');
}

// A failed call on a statement: what failed, its return code, then the driver's diagnostic.
void printFailure(const char* what, SQLRETURN code, SQLHSTMT statement,
                  const std::string& detail = "");

// A value bound to a parameter marker; std::monostate is SQL NULL.
using Value = std::variant<std::monostate, std::string, SQLINTEGER, float, double>;

enum class Fetched { Row, End, Failed };

// Runs `sql` on `statement` with its markers bound to `values` in order. The previous statement's
// cursor and parameters are let go first, so that one handle serves a sequence of statements.
bool execute(GMDB& db, SQLHSTMT statement, const std::string& sql,
             const std::vector<Value>& values = {});

Fetched fetchRow(SQLHSTMT statement);

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

// Whether a column of the executed statement holds exact numbers, integers of any width or sign
// or decimals. They are read as decimal text for parseInt: the driver's conversion to a 64-bit
// integer wraps an unsigned value past the signed range, and a decimal wider than 64 bits, into
// another value without a word. Other columns keep the driver's conversion.
bool holdsExactNumbers(SQLHSTMT statement, SQLUSMALLINT column);

// The decimal text of an exact number as a 32-bit integer, false when it does not fit. A decimal's
// fraction is dropped, as the driver's conversion drops it.
bool parseInt(std::string_view text, SQLINTEGER& number);

// An integer column of the fetched row; a value beyond 32 bits is refused with a message, NULL
// reads as 0.
bool getInt(SQLHSTMT statement, SQLUSMALLINT column, SQLINTEGER& number, const char* who);

// A text column of the fetched row, whatever its length up to the cap; NULL reads as empty text.
// The first piece tells the whole length, so the rest comes in one more call.
bool getText(SQLHSTMT statement, SQLUSMALLINT column, std::string& text, const char* who);

}  // namespace GMDBStatement
