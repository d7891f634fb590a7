#include "model/ImplementedNetClass.h"

#include <cstddef>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>

#include "core/EscapedText.h"
#include "model/MeasureObj_Execution__thread__pool__in__use.h"
#include "model/Token_Data.h"
#include "model/Transition_Canny__execution.h"
#include "model/Transition_Canny__post__execution.h"
#include "model/Transition_Canny__ready.h"
#include "model/Transition_Output__execution.h"
#include "model/Transition_Output__post__execution.h"
#include "model/Transition_Output__ready.h"
#include "model/Transition_Video__post__execution.h"
#include "model/Transition_Video__ready.h"
#include "model/Transition_con__2sMS.h"
#include "model/Transition_con__mC6n.h"
#include "net/Place.h"
#include "net/Token_int.h"
#include "net/Transition.h"
#include "tokendb/GMDB.h"

namespace {

const char* const POOL = "Execution_thread_pool";

// In id order, from 1.
const char* const PLACES[] = {POOL,          "Canny_executed", "Canny_main", "Canny_in_1",
                              "Canny_out1",  "Video_executed", "Video_out1", "Output_executed",
                              "Output_main", "Output_in_1"};

using Create = Transition* (*)(int id, const char* name, NetClass* net, const PlaceIdentMap& places,
                               bool immediate);

template <class Class>
Transition* create(int id, const char* name, NetClass* net, const PlaceIdentMap& places,
                   bool immediate) {
  // Timed transitions draw no weight and no priority; immediate ones share priority 1.
  return new Class(id, name, net, places, "", immediate ? 1.0 : 0.0, immediate ? 1 : 0, !immediate,
                   false, false, false);
}

// In id order, from 1.
struct TransitionKind {
  const char* name;
  Create create;
  bool immediate;
};
const TransitionKind TRANSITIONS[] = {
    {"Video_ready", create<Transition_Video__ready>, false},
    {"Canny_execution", create<Transition_Canny__execution>, false},
    {"Output_execution", create<Transition_Output__execution>, false},
    {"con_2sMS", create<Transition_con__2sMS>, false},
    {"con_mC6n", create<Transition_con__mC6n>, false},
    {"Canny_post_execution", create<Transition_Canny__post__execution>, true},
    {"Canny_ready", create<Transition_Canny__ready>, true},
    {"Video_post_execution", create<Transition_Video__post__execution>, true},
    {"Output_post_execution", create<Transition_Output__post__execution>, true},
    {"Output_ready", create<Transition_Output__ready>, true},
};
// Only the video source reports its firings.
const char* const WATCHED = "Video_ready";

// All of multiplicity 1, in the order they are made.
struct Arc {
  bool input;
  const char* place;
  const char* transition;
};
const Arc ARCS[] = {
    {true, POOL, "Video_ready"},
    {false, "Video_executed", "Video_ready"},
    {true, "Canny_main", "Canny_execution"},
    {false, "Canny_executed", "Canny_execution"},
    {true, "Output_main", "Output_execution"},
    {false, "Output_executed", "Output_execution"},
    {true, "Video_out1", "con_2sMS"},
    {false, "Canny_in_1", "con_2sMS"},
    {true, "Canny_out1", "con_mC6n"},
    {false, "Output_in_1", "con_mC6n"},
    {true, "Canny_executed", "Canny_post_execution"},
    {false, POOL, "Canny_post_execution"},
    {false, "Canny_out1", "Canny_post_execution"},
    {true, POOL, "Canny_ready"},
    {true, "Canny_in_1", "Canny_ready"},
    {false, "Canny_main", "Canny_ready"},
    {true, "Video_executed", "Video_post_execution"},
    {false, POOL, "Video_post_execution"},
    {false, "Video_out1", "Video_post_execution"},
    {true, "Output_executed", "Output_post_execution"},
    {false, POOL, "Output_post_execution"},
    {true, POOL, "Output_ready"},
    {true, "Output_in_1", "Output_ready"},
    {false, "Output_main", "Output_ready"},
};

constexpr std::size_t PLACE_COUNT = std::size(PLACES);
constexpr std::size_t TRANSITION_COUNT = std::size(TRANSITIONS);

// What the tables above give every build alike, worked out once: each transition's places under
// their own names, and each arc's place and transition as positions in PLACES and TRANSITIONS, so
// that a build links its own elements without looking a name up.
struct Layout {
  struct Link {
    bool input;
    std::size_t place;
    std::size_t transition;
  };
  PlaceIdentMap places[TRANSITION_COUNT];
  Link links[std::size(ARCS)];
};

const Layout& layout() {
  static const Layout made = [] {
    auto placeAt = [](const char* name) {
      std::size_t k = 0;
      while (std::strcmp(PLACES[k], name) != 0) ++k;
      return k;
    };
    auto transitionAt = [](const char* name) {
      std::size_t k = 0;
      while (std::strcmp(TRANSITIONS[k].name, name) != 0) ++k;
      return k;
    };
    Layout tables;
    std::size_t k = 0;
    for (const Arc& arc : ARCS) {
      const std::size_t transition = transitionAt(arc.transition);
      tables.places[transition].emplace(arc.place, arc.place);
      tables.links[k++] = {arc.input, placeAt(arc.place), transition};
    }
    return tables;
  }();
  return made;
}

}  // namespace

void ImplementedNetClass::buildNet() {
  const Layout& model = layout();
  Place* places[PLACE_COUNT];
  for (std::size_t k = 0; k < PLACE_COUNT; ++k) {
    auto* place = new Place(static_cast<int>(k + 1), PLACES[k], this, false, 0);
    place->setWatch(false);
    addPlace(place);
    places[k] = place;
  }

  Transition* transitions[TRANSITION_COUNT];
  for (std::size_t k = 0; k < TRANSITION_COUNT; ++k) {
    const TransitionKind& kind = TRANSITIONS[k];
    Transition* transition =
        kind.create(static_cast<int>(k + 1), kind.name, this, model.places[k], kind.immediate);
    transition->setDisplaying(false);
    transition->setWatch(std::strcmp(kind.name, WATCHED) == 0);
    transition->setImmediate(kind.immediate);
    transition->setLogfile("", "");
    addTransition(transition);
    transitions[k] = transition;
  }

  for (const Layout::Link& link : model.links) {
    if (link.input) {
      linkIntoTransition(places[link.place], transitions[link.transition], 1);
    } else {
      linkOutOfTransition(transitions[link.transition], places[link.place], 1);
    }
  }

  Place* pool = places[0];
  measure_Execution__thread__pool__in__use = new MeasureObj_Execution__thread__pool__in__use(this);
  pool->addMeasure(measure_Execution__thread__pool__in__use);
  addMeasure(measure_Execution__thread__pool__in__use);

  if (!markingFileRead) {
    markingFile = Token_int::readInitialTokens();
    markingFileRead = true;
    // Read once, so told once, however often the runs rebuild the net.
    warnOfLeftOutMarkingTokens(markingFile, {pool});
  }
  Token_int::addInitialTokens(pool, markingFile);
}

void ImplementedNetClass::createTokens() {
  GMDB db;
  std::cout << "... try to connect to the database : vudi ...\n";
  if (!db.DBConnect("vudi", "raruzev", "raruzev")) return;
  std::cout << "... connected !\n";

  token_info_list tokens;
  token_reference_list references;
  Token_Data::createTokensFromDB(this, &db, tokens, references);
  std::cout << "All tokens created." << std::endl;
  db.DBCloseConnect();
  std::cout << "connection closed." << std::endl;

  for (token_reference* reference : references) {
    reference->token->setReferenceAttribute(
        reference->attributename.c_str(),
        Token::findToken(tokens, reference->tokentypename.c_str(), reference->id));
    delete reference;
  }
  std::cout << "All token references replaced." << std::endl;

  int added = 0;
  forgetStoredTokens();
  for (token_info* info : tokens) {
    if (Place* place = getPlace(info->place_name)) {
      keepStoredToken(info->place_name, info->token);
      place->addToken(info->token);
      ++added;
    } else {
      std::cout << "Could not find Place '" << escapedText(info->place_name) << "' for "
                << escapedText(info->token->content()) << std::endl;
    }
    delete info;
  }
  std::cout << added << " tokens added to the net." << std::endl;
}

Ptr<Token> ImplementedNetClass::copyToken(Ptr<Token> oldToken) {
  const std::string type = oldToken->getName();
  if (type == "int") {
    return Ptr<Token>(new Token_int(*Dynamic_Cast<Token_int>(oldToken), true));
  }
  if (type == "Data") {
    return Ptr<Token>(new Token_Data(*Dynamic_Cast<Token_Data>(oldToken), true));
  }
  return Ptr<Token>();
}

Ptr<Token> ImplementedNetClass::upcastToken(Ptr<Token> token) {
  const std::string type = token->getName();
  if (type == "int") return Ptr<Token>(Dynamic_Cast<Token_int>(token));
  if (type == "Data") return Ptr<Token>(Dynamic_Cast<Token_Data>(token));
  return Ptr<Token>();
}
