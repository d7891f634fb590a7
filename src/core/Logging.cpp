#include "core/Logging.h"

#include <iostream>

Logging::~Logging() {
  close();
}

void Logging::open() {
  close();
  simlogging = openlog("sim", &simlog);
  translogging = openlog("trans", &translog);
  serverlogging = openlog("server", &serverlog);
  publish();
}

void Logging::close() {
  closelog(&eventlogging, &eventlog);
  closelog(&simlogging, &simlog);
  closelog(&translogging, &translog);
  closelog(&tokenlogging, &tokenlog);
  closelog(&serverlogging, &serverlog);
  closelog(&clientlogging, &clientlog);
  publish();
}

void Logging::publish() {
  simStream = on(simlogging, simlog);
  eventStream = on(eventlogging, eventlog);
  transStream = on(translogging, translog);
  tokenStream = on(tokenlogging, tokenlog);
}

void Logging::setLogFolder(const std::string& f) {
  close();
  folder = f;
}

void Logging::setLogIndex(int i) {
  close();
  logindex = std::to_string(i);
}

bool Logging::openlog(std::string name, std::fstream* log) {
  const std::string path = folder + "/" + name + logindex + ".log";
  log->open(path, std::ios::in | std::ios::out | std::ios::trunc);
  if (!log->is_open()) {
    std::cout << path << "*********** " << name << ": could not open!!" << std::endl;
    return false;
  }
  return true;
}

void Logging::closelog(bool* flag, std::fstream* log) {
  if (*flag && log->is_open()) {
    log->close();
    *flag = false;
  }
}
