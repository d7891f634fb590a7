#include "core/Assert.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void kernelAssertFailed(const char* expression, const char* file, int line) {
  // Report the source without its extension ("src/engine/Simulation"), as the front end's users
  // know the kernel's sources by that name.
  const char* slash = std::strrchr(file, '/');
  const char* dot = std::strrchr(file, '.');
  int length = static_cast<int>(std::strlen(file));
  if (dot != nullptr && (slash == nullptr || dot > slash)) {
    length = static_cast<int>(dot - file);
  }
  std::fprintf(stderr, "Assertion failed: %s, file %.*s, line %d\n", expression, length, file, line);
  std::fflush(stderr);
  std::abort();
}
