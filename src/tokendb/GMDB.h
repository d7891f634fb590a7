#pragma once

#include <sql.h>
#include <sqlext.h>

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
  // printed.
  bool DBConnect(const char* dsn, const char* user, const char* password);
  void DBCloseConnect();
  // The type and attribute names go into the statement as identifiers, so only ASCII letters,
  // digits and underscores are accepted; any other name is refused with a message.
  bool DBReadTokens(int marking, const char* tokentypename,
                    std::vector<attr_name_type_info*>* attributes, token_description_list* out);
  bool AllocateStatementHandle(SQLHSTMT* statement);
  bool SQLQuery(SQLHSTMT* statement, const char* sql);

  static std::string lcase(std::string text);

 private:
  bool connected() const { return V_OD_Env != SQL_NULL_HENV && V_OD_hdbc != SQL_NULL_HDBC; }

  SQLHENV V_OD_Env = SQL_NULL_HENV;
  SQLHDBC V_OD_hdbc = SQL_NULL_HDBC;
};
