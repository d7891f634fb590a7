#include <exception>
#include <iostream>
#include <memory>

#include "frontend/MainClass.h"

int main(int argc, char** argv) {
  // Whatever escapes the run ends it with one message and status 1; returning from here runs the
  // exit handlers, so the log files are closed.
  try {
    const auto program = std::make_unique<MainClass>();
    return program->main(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << "Fatal error: " << error.what() << std::endl;
  } catch (...) {
    std::cerr << "Fatal error: unknown exception" << std::endl;
  }
  return 1;
}
