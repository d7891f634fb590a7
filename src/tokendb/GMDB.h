#pragma once

#include <sql.h>
#include <sqlext.h>

#include <map>
#include <string>
#include <vector>

#include "tokendb/TokenRecords.h"

// Client of the token database, reached through ODBC 3. Every operation returns whether it
// succeeded and prints its failures on standard output; all but connecting and closing refuse
// silently while not connected.
class GMDB {
 public:
  GMDB() = default;
  ~GMDB() { DBCloseConnect(); }

  GMDB(const GMDB&) = delete;
  GMDB& operator=(const GMDB&) = delete;

  // A null argument is passed on as "not given" and printed as empty text; the password is never
  // printed. A server that does not answer in time (5 s to log in, 10 s for each read or write
  // after it) fails the connection, or the operation that waits for it.
  bool DBConnect(const char* dsn, const char* user, const char* password);
  void DBCloseConnect();
  // The type and attribute names go into the statement as identifiers, so only ASCII letters,
  // digits and underscores are accepted, at most 64 of them (the server's limit); any other name
  // is refused with a message.
  bool DBReadTokens(int marking, const char* tokentypename,
                    std::vector<attr_name_type_info*>* attributes, token_description_list* out);
  bool AllocateStatementHandle(SQLHSTMT* statement);
  bool SQLQuery(SQLHSTMT* statement, const char* sql);

  // Stored markings. Marking M keeps its places in M_places, and the tokens of type t in
  // M_tokens_t with their attribute values in M_objects_t (t and the column names lower-cased).
  // Appends the rows of the markings table; on a failing read the rows before it stay appended.
  bool DBGetMarkings(std::vector<marking_info*>& markings);
  // Creates marking MAX(id) + 1 (1 on an empty or absent markings table) with its tables and
  // places; its markings row comes last, and a failure drops every table this call created.
  bool DBCreateMarking(marking_description* marking);
  // The driver's name of the column type for an ODBC buffer type (an SQL_C_... code).
  bool SQLGetTypeName(SQLSMALLINT bufferType, std::string& typeName);

  // Generic access to tables whose rows carry an integer id. Table and column names take only
  // ASCII letters, digits and underscores, at most 64; values always travel as bound parameters,
  // so any text is stored as given. A read of a missing row returns false and leaves the output
  // unchanged; a NULL reads as empty text, 0 or false.
  bool DBReadStr(std::string& value, const char* table, const char* column, int id);
  bool DBReadInt(int* value, const char* table, const char* column, int id);
  bool DBReadFloat(float* value, const char* table, const char* column, int id);
  bool DBReadDouble(double* value, const char* table, const char* column, int id);
  // Reads a BIT column's 0 or 1, or the stored text: "True", "1" or "T" is true, "False", "0" or
  // "F" false.
  bool DBReadBool(bool* value, const char* table, const char* column, int id);
  bool DBReadDateTime(std::string& value, const char* table, const char* column, int id);
  // Selects `column` of row `id` on `statement` and fetches it; true when the row exists. The
  // statement stays on the row for the caller to read and free.
  bool SQLReadValue(SQLHSTMT statement, const char* table, const char* column, int id);

  bool DBUpdateStr(const char* value, const char* column, const char* table, int id);
  bool DBUpdateDate(const char* value, const char* column, const char* table, int id);
  bool DBUpdateTime(const char* value, const char* column, const char* table, int id);
  bool DBUpdateDateTime(const char* value, const char* column, const char* table, int id);
  bool DBUpdateInt(int value, const char* column, const char* table, int id);
  bool DBUpdateFloat(float value, const char* column, const char* table, int id);
  bool DBUpdateDouble(double value, const char* column, const char* table, int id);
  bool DBUpdateBool(bool value, const char* column, const char* table, int id);

  // Rows described by a format of type letters, "%s%i%b" for example: s text, i int, f float,
  // d double, b bool, a date, m time, t date and time. Each entry takes a column name and then:
  // for DBInsertRow and DBUpdateRow its value (const char* for s, a, m, t; int*, float* and
  // double* for i, f, d; a bool for b), for DBReadRow its output (char[200] for s, a, m, t; int*,
  // float*, double*, bool*). A format that is not wholly made of known letters is refused before
  // any argument is read.
  bool DBInsertRow(const char* table, const char* format, ...);
  // One statement: the row is updated whole or not at all.
  bool DBUpdateRow(const char* table, const char* format, int id, ...);
  // The outputs are written only when the whole row has been read.
  bool DBReadRow(const char* table, const char* format, int id, ...);
  bool DBDeleteRow(const char* table, int id);
  bool DBCreateTbl(const char* table, const char* format, ...);
  bool DBDropTbl(const char* table);
  // Index and Frequency of the table Passenger; a repeated index keeps its first frequency.
  std::map<int, double> DBReadFrequencies();
  // Databases and data sources are set up by their administrator: both always return false.
  bool DBCreateDB(const char* name, const char* driver);
  bool DBDropDB(const char* name);

  static std::string lcase(std::string text);

 private:
  bool connected() const { return V_OD_Env != SQL_NULL_HENV && V_OD_hdbc != SQL_NULL_HDBC; }

  SQLHENV V_OD_Env = SQL_NULL_HENV;
  SQLHDBC V_OD_hdbc = SQL_NULL_HDBC;
};
