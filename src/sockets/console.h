#pragma once

#include <cstdarg>
#include <cstddef>

// Replaceable sink for diagnostic output and line input. This class itself is the default
// console: output to standard output, input from standard input. A console constructed later
// takes over from the default one.
class console {
 public:
  console();
  virtual ~console();
  console(const console&) = delete;
  console& operator=(const console&) = delete;

  // stream 0 is output, 1 is errors.
  virtual void output_data(int stream, const char* format, va_list args);
  // Reads one line into buf; false when nothing could be read.
  virtual bool input_data(char* buf, size_t buf_size);

  static void output(const char* format, ...) __attribute__((format(printf, 1, 2)));
  // Writes the message and aborts the process.
  [[noreturn]] static void error(const char* format, ...) __attribute__((format(printf, 1, 2)));
  static bool input(char* buf, size_t buf_size);

  static console* active_console;
};
