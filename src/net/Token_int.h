#pragma once

#include <string>
#include <vector>

#include "core/IntTypes.h"
#include "net/Token.h"

class GMDB;
class NetClass;
class Place;
struct token_reference;

// The kernel's integer token, type name "int".
class Token_int final : public Token {
 public:
  explicit Token_int(Long32 value);
  Token_int(Token_int& other, bool copyTransitions);
  ~Token_int() override;

  Token_int& operator=(const Token_int& other);

  std::string getName() const override;
  std::string content() const override;
  Long32 getValue() const { return value; }

  // Adds one token to `place` for every token element of "marking.xml" naming it, its value read
  // from the attribute "value".
  static void addInitialTokens(Place* place);
  static void createTokensFromDB(NetClass* net, GMDB* db, std::vector<token_info*>& tokens,
                                 std::vector<token_reference*>& references);

 private:
  Long32 value;
};
