#pragma once

#include <string>

#include "core/DateTime.h"
#include "core/IntTypes.h"
#include "net/MarkingFile.h"
#include "net/Token.h"
#include "net/TokenTransfer.h"

class GMDB;
class NetClass;
class Place;
struct token_description;

// The model's work item, type name "Data": one frame on its way through the pipeline's stages.
class Token_Data final : public Token {
 public:
  Token_Data();
  // The saved-state copy: same id and creation time; the transitions to notify only on request.
  Token_Data(const Token_Data& other, bool copyTransitions);
  ~Token_Data() override;

  Token_Data& operator=(const Token_Data& other);

  std::string getName() const override;
  // {n="..."; s=0; l=0; gT=hh:mm:ss@mm/dd/yyyy; d=0; ood=0; tL=0; gL=0}; "NULL" when asked while
  // the text of a Data token is being built.
  std::string content() const override;

  const std::string& get_n() const { return n; }
  Long32 get_s() const { return s; }
  Long32 get_l() const { return l; }
  const DateTime& get_gT() const { return gT; }
  bool get_d() const { return d; }
  bool get_ood() const { return ood; }
  Long32 get_tL() const { return tL; }
  Long32 get_gL() const { return gL; }

  // Each writes its line to the token log when that log is on.
  void set_n(const std::string& value);
  void set_s(Long32 value);
  void set_l(Long32 value);
  void set_gT(const DateTime& value);
  void set_d(bool value);
  void set_ood(bool value);
  void set_tL(Long32 value);
  void set_gL(Long32 value);

  // Appends a token record for every stored Data token of marking 1. Data has no reference
  // attributes, so `net` and `references` are left alone.
  static void createTokensFromDB(NetClass* net, GMDB* db, token_info_list& tokens,
                                 token_reference_list& references);
  // The token of one stored row, or null, after a message, when the row does not hold the eight
  // attributes with the buffer types they were read with.
  static Token_Data* createFromRow(const token_description& row);

  // Adds to `place` one token for every token element of "marking.xml" naming it.
  static void addInitialTokens(Place* place);
  void readTokenData(const MarkingFile::Element& element);

 private:
  std::string n;
  Long32 s = 0;
  Long32 l = 0;
  DateTime gT;
  bool d = false;
  bool ood = false;
  Long32 tL = 0;
  Long32 gL = 0;
};
