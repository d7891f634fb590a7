#pragma once

// Internal consistency checks of the kernel. They stay in every build (NDEBUG does not remove
// them): a broken invariant in a long simulation must stop the run rather than corrupt results.
// A failed check writes "Assertion failed: <expression>, file <source>, line <n>" to standard
// error, where <source> is the path of the source file without its extension, and aborts.

[[noreturn]] void kernelAssertFailed(const char* expression, const char* file, int line);

#define KERNEL_ASSERT(expression) \
  ((expression) ? static_cast<void>(0) : kernelAssertFailed(#expression, __FILE__, __LINE__))
