#include "frontend/MainClass.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>

#include "core/DateTime.h"
#include "frontend/Server.h"
#include "net/Token.h"
#include "net/Transition.h"

Logging* MainClass::getLog() { return &Logging::instance(); }

// Binding the reference builds the log object before `main` when nothing logged earlier.
Logging& MainClass::log = Logging::instance();

int MainClass::main(int argc, char** argv) {
  Server::handleSignals();
  std::cout << "MainClass::main() beginning..." << std::endl;
  std::cout << "Simulation called with arguments" << std::endl;
  for (int i = 0; i < argc; ++i) std::cout << argv[i] << ' ';
  std::cout << std::endl;
  std::cout << "starting simulation at " << DateTime::Today() << std::endl;
  // The run time comes from a monotonic clock: a change of the wall clock (daylight saving, a
  // time server) during the run must not show in it.
  const auto begin = std::chrono::steady_clock::now();

  auto server = std::make_unique<Server>();
  server->start(argc, argv);
  const bool failed = server->hasFailed();
  server.reset();

  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - begin;
  std::cout << runTimeText(static_cast<long>(elapsed.count())) << std::endl;
  std::cout << "Total # tokens allocated: " << Token::tokenCounter << std::endl;
  std::cout << "Max # tokens at the same time: " << Token::maxConcTokenCounter << std::endl;
  std::cout << "Global fire count: " << Transition::globalFireCount << std::endl;
  // A console that failed (its reader gone, its disk full) has lost lines a script was to read.
  if (!std::cout || std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::cerr << "Standard output could not be written: the console lacks part of the run's output."
              << std::endl;
    return 1;
  }
  return failed ? 1 : 0;
}

std::string MainClass::runTimeText(long seconds) {
  const long days = seconds / 86400;
  const long hours = seconds / 3600 - 24 * days;
  const long minutes = seconds / 60 - 1440 * days - 60 * hours;
  return "total simulation time: " + std::to_string(seconds) + " seconds (" +
         std::to_string(days) + " days, " + std::to_string(hours) + " hours, " +
         std::to_string(minutes) + " minutes, " + std::to_string(seconds % 60) + " seconds)";
}
