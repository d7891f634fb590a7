#pragma once

#include <string>
#include <vector>

#include "net/Token.h"

// The records through which tokens built from stored rows reach the net builder. They are created
// with new and handed around by raw pointer; whoever empties a list deletes its elements.

// One token built from a stored row, waiting to be put into its place.
struct token_info {
  std::string tokentypename;
  Ptr<Token> token{nullptr};
  int id = 0;
  std::string place_name;
};

// A reference attribute still to be resolved to another stored token.
struct token_reference {
  std::string tokentypename;
  Ptr<Token> token{nullptr};
  std::string attributename;
  int id = 0;
};

using token_info_list = std::vector<token_info*>;
using token_reference_list = std::vector<token_reference*>;
