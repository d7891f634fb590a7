#include "model/ImplementedNetClass.h"

#include <cstring>
#include <iostream>
#include <string>

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

using Create = Transition* (*)(int id, const char* name, NetClass* net, PlaceIdentMap places,
                               bool immediate);

template <class Class>
Transition* create(int id, const char* name, NetClass* net, PlaceIdentMap places, bool immediate) {
  // Timed transitions draw no weight and no priority; immediate ones share priority 1.
  return new Class(id, name, net, std::move(places), "", immediate ? 1.0 : 0.0, immediate ? 1 : 0,
                   !immediate, false, false, false);
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

}  // namespace

void ImplementedNetClass::buildNet() {
  int id = 0;
  for (const char* name : PLACES) {
    auto* place = new Place(++id, name, this, false, 0);
    place->setWatch(false);
    addPlace(place);
  }

  id = 0;
  for (const TransitionKind& kind : TRANSITIONS) {
    // Each of the transition's places under its own name.
    PlaceIdentMap places;
    for (const Arc& arc : ARCS) {
      if (std::strcmp(arc.transition, kind.name) == 0) places[arc.place] = arc.place;
    }
    Transition* transition = kind.create(++id, kind.name, this, places, kind.immediate);
    transition->setDisplaying(false);
    transition->setWatch(std::strcmp(kind.name, WATCHED) == 0);
    transition->setImmediate(kind.immediate);
    transition->setLogfile("", "");
    addTransition(transition);
  }

  for (const Arc& arc : ARCS) {
    if (arc.input) {
      linkPlaceToTransition(arc.place, arc.transition, 1);
    } else {
      linkTransitionToPlace(arc.transition, arc.place, 1);
    }
  }

  Place* pool = getPlace(POOL);
  measure_Execution__thread__pool__in__use = new MeasureObj_Execution__thread__pool__in__use(this);
  pool->addMeasure(measure_Execution__thread__pool__in__use);
  addMeasure(measure_Execution__thread__pool__in__use);

  if (!markingFileRead) {
    markingFile = Token_int::readInitialTokens();
    markingFileRead = true;
  }
  Token_int::addInitialTokens(pool, markingFile);
  warnOfUnknownMarkingPlaces(markingFile);
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
      std::cout << "Could not find Place '" << info->place_name << "' for "
                << info->token->content() << std::endl;
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
