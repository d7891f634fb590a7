#include "tokendb/GMDB.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <iostream>
#include <string_view>

#include "tokendb/GMDBStatement.h"

// Generic access to tables whose rows carry an integer id, cell by cell or row by row.

using GMDBStatement::execute;
using GMDBStatement::Fetched;
using GMDBStatement::fetchRow;
using GMDBStatement::getInt;
using GMDBStatement::getNarrow;
using GMDBStatement::getNumber;
using GMDBStatement::getText;
using GMDBStatement::printable;
using GMDBStatement::quoted;
using GMDBStatement::refusedName;
using GMDBStatement::Statement;
using GMDBStatement::succeeded;
using GMDBStatement::Value;

namespace {

// The caller's text buffers of DBReadRow, with room for the terminating NUL.
const size_t ROW_TEXT_SIZE = 200;

// One statement on a handle of its own.
bool runOnce(GMDB& db, const std::string& sql, const std::vector<Value>& values = {}) {
  Statement statement(db);
  return statement && statement.run(sql, values);
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

// A stored boolean: a BIT column's 0 or 1, which the driver gives as a byte no text spells, or a
// text that parseBool knows.
bool getBool(SQLHSTMT statement, SQLUSMALLINT column, SQLINTEGER& value, const char* who) {
  SQLLEN type = 0;
  if (succeeded(
          SQLColAttribute(statement, column, SQL_DESC_CONCISE_TYPE, nullptr, 0, nullptr, &type)) &&
      type == SQL_BIT) {
    unsigned char bit = 0;
    if (!getNumber(statement, column, SQL_C_BIT, bit)) return false;
    value = bit != 0;
    return true;
  }
  std::string text;
  return getText(statement, column, text, who) && parseBool(text, value);
}

// One column of the fetched row as its format letter reads it: texts whole, a bool as 0 or 1.
bool getColumn(SQLHSTMT statement, SQLUSMALLINT column, char letter, Value& value,
               const char* who) {
  switch (letter) {
    case 'i': return getInt(statement, column, value.emplace<SQLINTEGER>(), who);
    case 'f':
      return getNarrow<float, double>(statement, column, SQL_C_DOUBLE, value.emplace<float>(), who);
    case 'd': return getNumber(statement, column, SQL_C_DOUBLE, value.emplace<double>());
    case 'b': return getBool(statement, column, value.emplace<SQLINTEGER>(), who);
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

// Column names as the identifiers of a statement.
std::vector<std::string> quotedAll(const std::vector<std::string>& names) {
  std::vector<std::string> all;
  for (const std::string& name : names) all.push_back(quoted(name));
  return all;
}

// The whole statement of a row update: every column or none.
bool updateRow(GMDB& db, const char* table, int id, const std::vector<std::string>& columns,
               const std::vector<Value>& values) {
  return runOnce(db,
                 "UPDATE " + quoted(table) + " SET " + join(quotedAll(columns), ", ", " = ?") +
                     " WHERE Id = " + std::to_string(id),
                 values);
}

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

}  // namespace

bool GMDB::SQLReadValue(SQLHSTMT statement, const char* table, const char* column, int id) {
  if (!connected() || refusedName("SQLReadValue", printable(table)) ||
      refusedName("SQLReadValue", printable(column)))
    return false;
  return execute(*this, statement,
                 "SELECT " + quoted(column) + " FROM " + quoted(table) +
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
                 "INSERT INTO " + quoted(table) + " (" + join(quotedAll(columns), ",") +
                     ") VALUES (" + join(std::vector<std::string>(values.size(), "?"), ",") + ")",
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
      !statement.run("SELECT " + join(quotedAll(columns), ", ") + " FROM " + quoted(table) +
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
         runOnce(*this, "DELETE FROM " + quoted(table) + " WHERE Id = " + std::to_string(id));
}

bool GMDB::DBCreateTbl(const char* table, const char* format, ...) {
  std::vector<std::string> columns;
  std::string definitions;
  va_list args;
  va_start(args, format);
  const bool taken =
      connected() &&
      takeEntries("DBCreateTbl", "Wrong types", table, format, args, columns, [&](char letter) {
        // Appended piece by piece, for the same reason as quoted() builds its text in place.
        definitions.append(" ").append(quoted(columns.back())).append(columnType(letter));
      });
  va_end(args);
  if (!taken) return false;
  definitions.pop_back();  // the comma after the last column
  return runOnce(*this, "CREATE TABLE IF NOT EXISTS " + quoted(table) + " (" + definitions + ")");
}

bool GMDB::DBDropTbl(const char* table) {
  return connected() && !refusedName("DBDropTbl", printable(table)) &&
         runOnce(*this, "DROP TABLE IF EXISTS " + quoted(table));
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
