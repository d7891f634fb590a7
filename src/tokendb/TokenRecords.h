#pragma once

#include <sqltypes.h>

#include <string>
#include <vector>

// Plain transfer records through which stored rows pass between the token database and the
// token readers. They are created with new and handed around by raw pointer; whoever empties a
// list deletes its elements (the records never delete what their vectors point to).

// One attribute a reader asks for: its name as the caller spells it and the ODBC buffer type
// (an SQL_C_... code) its column is read into.
struct attr_name_type_info {
  std::string name;
  SQLSMALLINT sql_c_type = 0;
};

// One attribute value of one row; `value` holds the column buffer as the driver filled it. A NULL
// column leaves all 512 bytes zero: an empty text, the number 0, false, a zero timestamp.
struct token_attribute {
  static const int VALUE_SIZE = 512;

  std::string name;
  SQLSMALLINT sql_c_type = 0;
  char value[VALUE_SIZE] = {};
};

// One stored token row: its id in the tokens table, its place and its attributes in request order.
struct token_description {
  int id = 0;
  std::string place_name;
  std::vector<token_attribute*> attributes;
};

// All rows read for one token type.
struct token_description_list {
  std::string tokentypename;
  std::vector<token_description*> token_descriptions;
};

// One row of the markings table.
struct marking_info {
  int id = 0;
  std::string name;
};

// A token type and its attributes, for creating a marking.
struct tokentype_description {
  std::string tokentypename;
  std::vector<attr_name_type_info*> attributes;
};

// A marking to be created: its name, its places in order and its token types.
struct marking_description {
  std::string markingname;
  std::vector<std::string> placenames;
  std::vector<tokentype_description*> tokentypes;
};
