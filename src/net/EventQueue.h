#pragma once

#include <map>
#include <string>
#include <vector>

class Binding;
class Transition;

// The transitions of a net that have a pending event, in a binary heap ordered by their first
// event's time and then by its priority, highest first. A transition reports to the queue whenever
// its first event may have changed, so the engine finds the events due next without asking every
// transition: the cost of a step grows with the logarithm of the number of transitions.
//
// A report only notes the transition; the heap is brought up to date when the next events are
// asked for, so a firing that takes a transition's event and gives it a new one moves it once.
class EventQueue {
 public:
  // The transitions by name, whose order breaks ties.
  explicit EventQueue(const std::map<std::string, Transition*>& byName) : byName(byName) {}
  EventQueue(const EventQueue&) = delete;
  EventQueue& operator=(const EventQueue&) = delete;

  // The transition reports to this queue from now on.
  void attach(Transition* transition);
  // The first event of a transition not noted since the heap was last brought up to date may
  // have changed.
  void note(Transition* transition) { noted.push_back(transition); }
  // The transition, whose event list is empty now, is going away.
  void withdraw() { refresh(); }
  // The name order of the transitions changed.
  void namesChanged() { ranked = false; }

  // Whether an event of this time and priority is ever found: the walk starts from
  // DateTime::MAX and priority 0, so it takes nothing later, and at that very time only the
  // priorities of 0 or more.
  static bool everDue(double time, int priority);

  // Passes `take` the first events of all transitions whose first event ties with the earliest
  // one in time and priority, in the transitions' name order: what a walk over the transitions in
  // name order finds when it keeps the earliest time and, at that time, the highest priority. Like
  // that walk it finds nothing at or beyond DateTime::MAX, but events exactly at DateTime::MAX of
  // priority 0 or more.
  template <class Take>
  void firstEvents(Take&& take) {
    if (!noted.empty()) refresh();
    if (heap.empty() || !everDue(heap[0].time, heap[0].priority)) return;
    if (!tiesBelowTop()) {
      take(heap[0].first);
      return;
    }
    for (const Entry* entry : tiedWithTop()) take(entry->first);
  }

 private:
  struct Entry {
    double time;
    int priority;
    Transition* transition;
    Binding* first;
  };
  static bool before(const Entry& a, const Entry& b) {
    return a.time < b.time || (a.time == b.time && a.priority > b.priority);
  }
  static bool ties(const Entry& a, const Entry& b) {
    return a.time == b.time && a.priority == b.priority;
  }
  bool tiesBelowTop() const {
    return (heap.size() > 1 && ties(heap[1], heap[0])) ||
           (heap.size() > 2 && ties(heap[2], heap[0]));
  }
  const std::vector<const Entry*>& tiedWithTop();
  void refresh();
  void update(Transition* transition);
  // Put `entry` into the hole at `slot`, moving it towards the root or the leaves; the entry is
  // passed along rather than read back from the heap, which a processor forwards badly.
  void place(std::size_t slot, const Entry& entry);
  void siftUp(std::size_t slot, const Entry& entry);
  void siftDown(std::size_t slot, const Entry& entry);
  void remove(std::size_t slot);
  void rank();

  const std::map<std::string, Transition*>& byName;
  std::vector<Entry> heap;
  std::vector<Transition*> noted;
  std::vector<const Entry*> tied;  // kept between steps, so a step allocates nothing
  bool ranked = false;
};
