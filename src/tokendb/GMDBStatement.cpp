#include "tokendb/GMDBStatement.h"

#include <algorithm>
#include <charconv>

#include "core/EscapedText.h"

namespace GMDBStatement {

namespace {

// The server's limit on the length of a table or column name.
const size_t NAME_SIZE = 64;

// A refused name may be anything, megabytes long or full of terminal escapes: it is echoed as its
// first characters up to the name limit, escaped.
std::string shown(std::string_view name) { return escapedText(name.substr(0, NAME_SIZE)); }

// Longest text a read takes; a longer one is refused rather than grown without bound.
const SQLLEN TEXT_CAP = 1 << 20;

}  // namespace

void printDiagnostic(SQLSMALLINT handleType, SQLHANDLE handle) {
  SQLCHAR state[6] = {};
  SQLCHAR message[TEXT_SIZE] = {};
  SQLINTEGER nativeError = 0;
  SQLSMALLINT length = 0;
  SQLGetDiagRec(handleType, handle, 1, state, &nativeError, message, sizeof message, &length);
  // The driver's message may quote stored values or the server's words.
  std::cout << escapedText(reinterpret_cast<const char*>(message)) << " (" << nativeError << ")"
            << std::endl;
}

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

void printFailure(const char* what, SQLRETURN code, SQLHSTMT statement, const std::string& detail) {
  std::cout << what << " " << code << detail << std::endl;
  printDiagnostic(SQL_HANDLE_STMT, statement);
}

bool execute(GMDB& db, SQLHSTMT statement, const std::string& sql,
             const std::vector<Value>& values) {
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

bool holdsExactNumbers(SQLHSTMT statement, SQLUSMALLINT column) {
  SQLLEN type = 0;
  if (!succeeded(
          SQLColAttribute(statement, column, SQL_DESC_CONCISE_TYPE, nullptr, 0, nullptr, &type)))
    return false;
  return type == SQL_TINYINT || type == SQL_SMALLINT || type == SQL_INTEGER || type == SQL_BIGINT ||
         type == SQL_DECIMAL || type == SQL_NUMERIC;
}

bool parseInt(std::string_view text, SQLINTEGER& number) {
  const char* const end = text.data() + std::min(text.find('.'), text.size());
  SQLINTEGER parsed = 0;
  const auto [stop, error] = std::from_chars(text.data(), end, parsed);
  if (error != std::errc() || stop != end) return false;
  number = parsed;
  return true;
}

bool getInt(SQLHSTMT statement, SQLUSMALLINT column, SQLINTEGER& number, const char* who) {
  if (!holdsExactNumbers(statement, column))
    return getNarrow<SQLINTEGER, SQLBIGINT>(statement, column, SQL_C_SBIGINT, number, who);
  std::string text;
  if (!getText(statement, column, text, who)) return false;
  if (text.empty()) {  // NULL
    number = 0;
    return true;
  }
  if (parseInt(text, number)) return true;
  std::cout << who << ": value " << text.substr(0, text.find('.')) << " out of range" << std::endl;
  return false;
}

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

}  // namespace GMDBStatement
