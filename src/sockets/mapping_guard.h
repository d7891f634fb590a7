#pragma once

#include <cstddef>

// Keeps a peer that shrinks a shared segment from killing this process. Touching a page of a
// shared mapping beyond the end of its object raises SIGBUS; inside a guarded mapping the handler
// lays private zero pages over the whole mapping instead, so that the access completes, and marks
// the mapping, so that its user can end the connection. A SIGBUS anywhere else is handled as it
// was before the guard was installed.
class mapping_guard {
 public:
  // Guards the mapping of size bytes at base: its slot, or -1 when every slot is taken.
  static int add(void* base, size_t size);
  // Before the mapping is unmapped; -1 is no slot.
  static void remove(int slot);
  // Whether the mapping in slot was shrunk under this process since it was added.
  static bool struck(int slot);

  mapping_guard() = delete;
};
