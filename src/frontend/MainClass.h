#pragma once

#include <string>

#include "core/Logging.h"

// The object through which the process runs: the banner, one run of the command line's mode,
// then the run time and the totals of tokens and firings. Owns the process-wide log object.
class MainClass {
 public:
  // 0 after a run; 1 when the run could not be done. Input errors end the process before.
  int main(int argc, char** argv);

  // "total simulation time: " with the seconds split into days, hours, minutes and seconds.
  static std::string runTimeText(long seconds);

  static Logging& log;
  static Logging* getLog();
};
