#pragma once

#include "core/Logging.h"

class MainClass {
 public:
  static Logging& log;
  static Logging* getLog();
};
