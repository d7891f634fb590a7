#pragma once

#include <string>
#include <utility>

#include "net/Place.h"
#include "net/Transition.h"

// What the ten transitions of the video-pipeline model share: each input arc takes one token of a
// given type, the places are bound by name once at construction, and the binding search offers a
// single candidate made of the oldest fitting token of every input place.
//
// Taking the oldest token is the model's own rule, not a choice of the kernel: the stages and the
// video source all read the thread pool, so they all bind its first token. When a stage takes that
// token, the source's pending frame is withdrawn with it and its countdown starts again at that
// moment, which makes the time between two frames longer than 33.33 s.
class ModelTransition : public Transition {
 protected:
  ModelTransition(int uniqueid, const char* name, NetClass* net, const PlaceIdentMap& places,
                  std::string pagePath, double firingWeight, int priority, bool exp, bool takeFirst,
                  bool isInfinite, bool hasLocalGuard);

  // The net's place for one of this transition's place names. A name missing from the map or the
  // net ends the run with an assertion that names it, so that no reference to a missing place is
  // ever kept.
  Place& bindPlace(PlaceIdentMap& places, const char* name);

  // A new list with at most one candidate: for each input place in arc order, its first offered
  // token of the matching type; empty when some place has none.
  template <class... Types, class... Places>
  TempBindingList* firstBinding(Places&... inputs) {
    static_assert(sizeof...(Types) == sizeof...(Places), "one token type per input place");
    auto* list = new TempBindingList;
    TokenList tokens;
    if ((appendFirst<Types>(inputs, tokens) && ...))
      list->push_back(new TokenList(std::move(tokens)));
    return list;
  }

  // Takes the binding's next token out of `place` and returns it.
  static Ptr<Token> take(TokenList::const_iterator& next, Place& place) {
    Ptr<Token> token = *next++;
    place.removeToken(token);
    return token;
  }

 private:
  template <class Type>
  bool appendFirst(Place& place, TokenList& tokens) {
    for (const Ptr<Token>& token : *getPlaceMarking(place)) {
      if (dynamic_cast<Type*>(token.GetRawPtr()) != nullptr) {
        tokens.push_back(token);
        return true;
      }
    }
    return false;
  }
};
