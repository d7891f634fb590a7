#pragma once

#include <string>
#include <typeinfo>
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
  Place& bindPlace(const PlaceIdentMap& places, const char* name);

  // At most one candidate, in the transition's own list: for each input place in arc order, its
  // first offered token of the matching type; none when some place has none. The tokens are
  // copied only once every place has offered one, so a search that binds nothing allocates
  // nothing. The places are distinct, so one place's offer stays put while the next is fetched.
  template <class... Types, class... Places>
  TempBindingList* firstBinding(Places&... inputs) {
    static_assert(sizeof...(Types) == sizeof...(Places), "one token type per input place");
    TempBindingList& list = ownCandidates();
    const Ptr<Token>* first[sizeof...(Types)];
    const Ptr<Token>** next = first;
    if ((((*next++ = firstOffered<Types>(inputs)) != nullptr) && ...)) {
      auto* tokens = new TokenList;
      for (const Ptr<Token>* token : first) tokens->push_back(*token);
      list.push_back(tokens);
    }
    return &list;
  }

  // Takes the binding's next token out of `place` and returns it; the binding holds it meanwhile.
  static const Ptr<Token>& take(TokenList::const_iterator& next, Place& place) {
    const Ptr<Token>& token = *next++;
    place.removeToken(token);
    return token;
  }

 private:
  // The model's token classes have no subclasses, so a token of the type is one of exactly that
  // class: the class is told by its type information, without a cast.
  template <class Type>
  const Ptr<Token>* firstOffered(Place& place) {
    for (const Ptr<Token>& token : *getPlaceMarking(place)) {
      if (typeid(*token) == typeid(Type)) return &token;
    }
    return nullptr;
  }
};
