#include "sockets/console.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "core/Assert.h"

console* console::active_console = nullptr;

namespace {

// Never destroyed, so that output during the process's shutdown still has somewhere to go.
console* const default_console = new console;

void emit(int stream, const char* format, va_list args) {
  console* const active_console = console::active_console;
  KERNEL_ASSERT(active_console != NULL);
  active_console->output_data(stream, format, args);
}

}  // namespace

console::console() {
  if (active_console == nullptr || active_console == default_console) {
    active_console = this;
  }
}

console::~console() {
  // Output must not reach a console that is gone.
  if (active_console == this) {
    active_console = this == default_console ? nullptr : default_console;
  }
}

void console::output_data(int, const char* format, va_list args) {
  std::vfprintf(stdout, format, args);
}

bool console::input_data(char* buf, size_t buf_size) {
  if (buf_size == 0) {
    return false;
  }
  int size = static_cast<int>(buf_size > INT_MAX ? INT_MAX : buf_size);
  return std::fgets(buf, size, stdin) != nullptr;
}

void console::output(const char* format, ...) {
  va_list args;
  va_start(args, format);
  emit(0, format, args);
  va_end(args);
}

void console::error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  emit(1, format, args);
  va_end(args);
  // The message must not die in a buffer with the process.
  std::fflush(nullptr);
  std::abort();
}

bool console::input(char* buf, size_t buf_size) {
  return active_console != nullptr && active_console->input_data(buf, buf_size);
}
