#include "net/Token.h"

#include <algorithm>
#include <array>

#include "core/Logging.h"
#include "net/Transition.h"
#include "net/TokenTransfer.h"

Counter Token::tokenCounter = 0;
Counter Token::concTokenCounter = 0;
Counter Token::maxConcTokenCounter = 0;

Token::Token() : creationTime(DateTime::Today()), id(tokenCounter++) { countNewToken(); }

Token::Token(const Token& other, bool copyTransitions)
    : creationTime(other.creationTime), id(other.id) {
  if (copyTransitions) transitions = other.transitions;
  countNewToken();
}

Token::~Token() { --concTokenCounter; }

void Token::countNewToken() {
  ++concTokenCounter;
  if (concTokenCounter > maxConcTokenCounter) maxConcTokenCounter = concTokenCounter;
}

void Token::setReferenceAttribute(const char*, Ptr<Token>) {}

Token& Token::operator=(const Token& other) {
  if (&other != this) {
    creationTime = other.creationTime;
    id = other.id;
  }
  return *this;
}

bool Token::operator==(const Token& other) const { return id == other.id; }

std::string Token::content() const { return std::string(); }

void Token::logTransitionChange(std::ostream& log, const char* what,
                                const Transition* transition) const {
  log << "Token " << getName() << ", " << creationTime << what << transition->getName()
      << std::endl;
}

void Token::addTransition(Transition* transition) {
  if (auto* log = Logging::trans()) logTransitionChange(*log, " added Transition ", transition);
  // Most tokens are young: room for the usual handful at once, rather than growing step by step.
  if (transitions.capacity() == 0) transitions.reserve(4);
  transitions.push_back(transition);
}

void Token::removeTransition(Transition* transition) {
  if (auto* log = Logging::trans()) logTransitionChange(*log, " removed Transition ", transition);
  transitions.erase(std::remove(transitions.begin(), transitions.end(), transition),
                    transitions.end());
}

bool Token::containsTransition(Transition* transition) const {
  return std::find(transitions.begin(), transitions.end(), transition) != transitions.end();
}

void Token::notifyTransitions(const Ptr<Token>& self) {
  if (auto* log = Logging::trans()) {
    *log << "Token " << getName() << ", " << creationTime << " notifyTransitions()..: [ ";
    for (const Transition* t : transitions) *log << t->getName() << " : ";
    *log << " ]" << std::endl;
  }
  // Mostly the firing transition was the only one to bind the token.
  if (transitions.empty()) return;

  // The handlers unregister transitions from this token while we walk, so walk a snapshot. A
  // snapshot entry whose transition has meanwhile let go of the token (an earlier handler dropped
  // its binding, or it stood in the list twice) is no longer concerned and is skipped. The
  // snapshot lives on the stack for the usual few registrations.
  std::array<Transition*, 16> small;
  std::vector<Transition*> large;
  Transition** snapshot = small.data();
  const size_t count = transitions.size();
  if (count > small.size()) {
    large.assign(transitions.begin(), transitions.end());
    snapshot = large.data();
  } else {
    std::copy(transitions.begin(), transitions.end(), small.begin());
  }

  for (size_t i = 0; i < count; ++i) {
    Transition* transition = snapshot[i];
    if (std::find(snapshot, snapshot + i, transition) != snapshot + i) continue;
    if (!containsTransition(transition)) continue;
    if (auto* log = Logging::trans()) {
      *log << "Token->notifyTransitions() : " << *transition << std::endl;
    }
    transition->tokenNotify(self);
  }
}

Ptr<Token> Token::findToken(std::vector<token_info*>& infos, const char* typeName, int id) {
  for (token_info* info : infos) {
    if (info->id == id && info->tokentypename == typeName) return info->token;
  }
  return Ptr<Token>(nullptr);
}

std::ostream& operator<<(std::ostream& out, const Token& token) {
  return out << "Token name: " << token.getName();
}
