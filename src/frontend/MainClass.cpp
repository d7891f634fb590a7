#include "frontend/MainClass.h"

// The log object is built on first use, so static initialisers of any source may log through
// getLog(); it is destroyed, closing its files, by the exit handlers, `exit` included. Binding the
// reference here also builds it before `main` when nothing logged earlier.
Logging* MainClass::getLog() {
  static Logging theLog;
  return &theLog;
}

Logging& MainClass::log = *MainClass::getLog();
