#include "net/EventQueue.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/DateTime.h"
#include "net/Transition.h"

void EventQueue::attach(Transition* transition) {
  transition->eventQueue = this;
  transition->firstEventMayHaveChanged();
}

void EventQueue::refresh() {
  for (Transition* transition : noted) {
    transition->queueNoted = false;
    update(transition);
  }
  noted.clear();
}

void EventQueue::update(Transition* transition) {
  Binding* first = transition->getNextEvent();
  const std::size_t slot = transition->queueSlot;
  if (first == nullptr) {
    if (slot != Transition::kNotQueued) remove(slot);
    return;
  }
  // A time that compares with nothing is never due: it goes to the end, with the infinite ones.
  double time = first->getTime().FullDateTime();
  if (std::isnan(time)) time = std::numeric_limits<double>::infinity();
  const Entry entry{time, first->getPriority(), transition, first};
  if (slot == Transition::kNotQueued) {
    heap.emplace_back();
    siftUp(heap.size() - 1, entry);
    return;
  }
  const Entry& old = heap[slot];
  if (ties(old, entry)) {
    heap[slot].first = first;
  } else if (before(entry, old)) {
    siftUp(slot, entry);
  } else {
    siftDown(slot, entry);
  }
}

void EventQueue::place(std::size_t slot, const Entry& entry) {
  heap[slot] = entry;
  entry.transition->queueSlot = slot;
}

void EventQueue::siftUp(std::size_t slot, const Entry& entry) {
  while (slot > 0) {
    const std::size_t parent = (slot - 1) / 2;
    if (!before(entry, heap[parent])) break;
    place(slot, heap[parent]);
    slot = parent;
  }
  place(slot, entry);
}

void EventQueue::siftDown(std::size_t slot, const Entry& entry) {
  for (;;) {
    std::size_t child = 2 * slot + 1;
    if (child >= heap.size()) break;
    if (child + 1 < heap.size() && before(heap[child + 1], heap[child])) ++child;
    if (!before(heap[child], entry)) break;
    place(slot, heap[child]);
    slot = child;
  }
  place(slot, entry);
}

void EventQueue::remove(std::size_t slot) {
  heap[slot].transition->queueSlot = Transition::kNotQueued;
  const Entry last = heap.back();
  heap.pop_back();
  if (slot == heap.size()) return;
  if (slot > 0 && before(last, heap[(slot - 1) / 2])) {
    siftUp(slot, last);
  } else {
    siftDown(slot, last);
  }
}

void EventQueue::rank() {
  int next = 0;
  for (const auto& [name, transition] : byName) transition->nameRank = next++;
  ranked = true;
}

bool EventQueue::everDue(double time, int priority) {
  const double last = DateTime::MAX.FullDateTime();
  return time < last || (time == last && priority >= 0);
}

const std::vector<const EventQueue::Entry*>& EventQueue::tiedWithTop() {
  // Every entry that ties with the top has only such entries above it: they form a subtree at the
  // root, gathered breadth first.
  tied.clear();
  tied.push_back(&heap[0]);
  for (std::size_t i = 0; i < tied.size(); ++i) {
    const std::size_t first = 2 * static_cast<std::size_t>(tied[i] - heap.data()) + 1;
    for (std::size_t child = first; child < first + 2 && child < heap.size(); ++child) {
      if (ties(heap[child], heap[0])) tied.push_back(&heap[child]);
    }
  }
  if (!ranked) rank();
  std::sort(tied.begin(), tied.end(), [](const Entry* a, const Entry* b) {
    return a->transition->nameRank < b->transition->nameRank;
  });
  return tied;
}
