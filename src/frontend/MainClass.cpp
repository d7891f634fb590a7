#include "frontend/MainClass.h"

Logging* MainClass::getLog() { return &Logging::instance(); }

// Binding the reference builds the log object before `main` when nothing logged earlier.
Logging& MainClass::log = Logging::instance();
