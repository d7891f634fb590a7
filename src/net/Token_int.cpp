#include "net/Token_int.h"

#include <cstring>
#include <iostream>

#include "net/MarkingFile.h"
#include "net/Place.h"
#include "net/TokenTransfer.h"
#include "tokendb/GMDB.h"

Token_int::Token_int(Long32 value) : Token(), value(value) {}

Token_int::Token_int(Token_int& other, bool copyTransitions)
    : Token(other, copyTransitions), value(other.value) {}

Token_int::~Token_int() = default;

Token_int& Token_int::operator=(const Token_int& other) {
  if (&other != this) {
    Token::operator=(other);
    value = other.value;
  }
  return *this;
}

std::string Token_int::getName() const { return "int"; }

std::string Token_int::content() const { return std::to_string(value); }

std::vector<Token_int::Initial> Token_int::readInitialTokens() {
  std::vector<Initial> tokens;
  MarkingFile::forEachToken(
      [&tokens](const std::string& place, bool exact, const MarkingFile::Element& token) {
        tokens.push_back({place, MarkingFile::readLong(token, u"value"), exact});
      });
  return tokens;
}

void Token_int::addInitialTokens(Place* place) { addInitialTokens(place, readInitialTokens()); }

void Token_int::addInitialTokens(Place* place, const std::vector<Initial>& tokens) {
  for (const Initial& token : tokens) {
    if (token.exact && token.place == place->getName())
      place->addToken(Ptr<Token>(new Token_int(token.value)));
  }
}

void Token_int::createTokensFromDB(NetClass*, GMDB* db, std::vector<token_info*>& tokens,
                                   std::vector<token_reference*>&) {
  std::vector<attr_name_type_info*> request;
  auto* valueAttribute = new attr_name_type_info;
  valueAttribute->name = "value";
  valueAttribute->sql_c_type = SQL_C_SLONG;
  request.push_back(valueAttribute);

  token_description_list result;
  db->DBReadTokens(1, "Container", &request, &result);
  for (attr_name_type_info* entry : request) delete entry;

  for (token_description* row : result.token_descriptions) {
    // The value must be the 4-byte integer we asked for; a row without it is reported and left
    // out rather than read as whatever its buffer holds.
    if (row->attributes.empty() || row->attributes.front()->sql_c_type != SQL_C_SLONG) {
      std::cout << "Token " << row->id << " of type Container has no integer value: skipped"
                << std::endl;
    } else {
      Long32 read = 0;
      static_assert(sizeof read == 4, "the stored value is a 4-byte integer");
      std::memcpy(&read, row->attributes.front()->value, sizeof read);
      auto* info = new token_info;
      info->tokentypename = "int";
      info->token = Ptr<Token>(new Token_int(read));
      info->id = row->id;
      info->place_name = row->place_name;
      tokens.push_back(info);
    }
    for (token_attribute* attribute : row->attributes) delete attribute;
    delete row;
  }
}
