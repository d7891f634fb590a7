#pragma once

#include <list>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "core/DateTime.h"
#include "core/IntTypes.h"
#include "core/SmallObjectPool.h"
#include "core/SmartPointers.h"

class Transition;
struct token_info;

using ReferenceCountedSmartPointer::Dynamic_Cast;
using ReferenceCountedSmartPointer::Ptr;

class Token;

// The tokens of one binding in input-arc order; also a place's marking. Its nodes, and the lists
// a binding search makes with new, come from the small-object pool.
class TokenList : public std::list<Ptr<Token>, PoolAllocator<Ptr<Token>>> {
 public:
  using list::list;
  VUDI_POOLED_NEW
};
// Candidate bindings returned by a transition's binding search; the holder owns the lists. A
// vector, so that a list kept from one search to the next keeps its room.
class TempBindingList : public std::vector<TokenList*, PoolAllocator<TokenList*>> {
 public:
  using vector::vector;
  VUDI_POOLED_NEW
};
// A transition's local place names mapped to the net's place names; looked up by C string without
// a string made for the name.
using PlaceIdentMap = std::map<std::string, std::string, std::less<>>;
// A firing delay or time-guard value in seconds.
using Seconds_T = double;

// Abstract token: an identity shared by all its copies, a creation time, and the transitions whose
// pending bindings hold it. A token carries the count block of the Ptrs that share it, and comes
// from the small-object pool, so making one is a single allocation without the general allocator.
class Token : public ReferenceCountedSmartPointer::CountedObject {
 public:
  VUDI_POOLED_NEW

  Token();
  Token(const Token& other, bool copyTransitions);
  virtual ~Token();

  // A copy must go through the two-argument constructor so the live-token statistics see it.
  Token(const Token&) = delete;

  virtual void setReferenceAttribute(const char* attributeName, Ptr<Token> token);
  virtual Token& operator=(const Token& other);
  virtual bool operator==(const Token& other) const;
  virtual std::string getName() const = 0;
  virtual std::string content() const;

  Counter getID() const { return id; }
  const DateTime& getCreationTime() const { return creationTime; }

  void addTransition(Transition* transition);
  void removeTransition(Transition* transition);
  bool containsTransition(Transition* transition) const;
  void notifyTransitions(const Ptr<Token>& self);

  static Ptr<Token> findToken(std::vector<token_info*>& infos, const char* typeName, int id);

  static Counter tokenCounter;         // ids handed out so far
  static Counter concTokenCounter;     // tokens alive
  static Counter maxConcTokenCounter;  // peak of concTokenCounter

 protected:
  // A vector rather than a list: registrations come and go with every binding, and a vector does
  // not allocate once it has grown to the usual handful of transitions.
  std::vector<Transition*, PoolAllocator<Transition*>> transitions;
  DateTime creationTime;
  Counter id;

 private:
  void countNewToken();
  void logTransitionChange(std::ostream& log, const char* what, const Transition* transition) const;
};

std::ostream& operator<<(std::ostream& out, const Token& token);
