#pragma once

#include <string>

#include "model/ImplementedNetClass.h"

class Simulation;

// Turns the command line into exactly one run of the model net: token game, stationary,
// transient or RESTART simulation, or profiling. Input errors end the process with status 1.
class Server {
 public:
  Server() = default;
  ~Server() = default;
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  void start(int argc, char** argv);
  // True after a run that could not be done (a token game that no front end could reach) or
  // whose results could not be written.
  bool hasFailed() const { return failed; }

  // The net's name from the program path: the file name less its extension when the path has a
  // directory, the whole text otherwise; empty for no path.
  static std::string netName(const char* path);
  // The program's answer to SIGINT and SIGTERM, set first thing and unblocked: before a run looks
  // at requests one ends the process at once, saying so on standard error; see
  // leaveRequestsToTheRun for what they do then. A console that goes away fails its writes.
  static void handleSignals();
  // From here on a first SIGINT or SIGTERM ends the run with what it has computed; one that comes
  // a second or more later ends the process at once.
  static void leaveRequestsToTheRun();

 private:
  struct CommandLine;

  void runProfiling(CommandLine& line, const std::string& name);
  void runSimulation(CommandLine& line, const std::string& name, const DateTime& start);
  void runTokenGame(CommandLine& line, const std::string& name, const DateTime& start);
  void buildNet();

  double alpha = 0.0;
  bool startGivenAsNumber = false;
  int simulationType = 0;
  unsigned int secmax = 0;
  ImplementedNetClass net;
  Simulation* current = nullptr;
  bool failed = false;
};
