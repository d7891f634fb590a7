#include "tokendb/GMDB.h"

#include <iostream>

#include "core/EscapedText.h"

#include "tokendb/GMDBStatement.h"

// The schema of the stored markings: a marking's tables and the column types they are made of.

using GMDBStatement::Fetched;
using GMDBStatement::getInt;
using GMDBStatement::getNumber;
using GMDBStatement::getText;
using GMDBStatement::printFailure;
using GMDBStatement::quoted;
using GMDBStatement::refusedName;
using GMDBStatement::Statement;
using GMDBStatement::succeeded;

namespace {

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

const char* const MARKINGS_TABLE =
    "CREATE TABLE markings (id int not null, name long varchar, primary key (id))";

}  // namespace

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
      columns += ", " + quoted(name) + " " + typeName;
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
      statement.run("DROP TABLE " + quoted(*table));
    return false;
  };
  const auto create = [&](const std::string& table, const std::string& columns) {
    if (!statement.run("CREATE TABLE " + quoted(table) + columns)) return false;
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
    if (!statement.run("INSERT INTO " + quoted(places) + " (id, name) values(" +
                           std::to_string(++place) + ", ?)",
                       {name}))
      return fail("Couldn't store place '" + escapedText(name) + "' in table " + places);
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
    return fail("Couldn't insert new marking '" + escapedText(marking->markingname) + "'");
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
