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

  // A token element of "marking.xml": the place it names and its value, read from the attribute
  // "value".
  struct Initial {
    std::string place;
    Long32 value;
    // Whether the local character set shows the place name exactly: one it does not names no
    // place of a net.
    bool exact;
  };
  // Every token element of the file, in document order.
  static std::vector<Initial> readInitialTokens();
  // Adds one token to `place` for every token element of "marking.xml" naming it; the file is read
  // anew.
  static void addInitialTokens(Place* place);
  // The same from elements read before.
  static void addInitialTokens(Place* place, const std::vector<Initial>& tokens);
  static void createTokensFromDB(NetClass* net, GMDB* db, std::vector<token_info*>& tokens,
                                 std::vector<token_reference*>& references);

 private:
  Long32 value;
};
