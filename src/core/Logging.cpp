#include "core/Logging.h"

#include <fcntl.h>

#include <cerrno>
#include <cstring>
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
  if (!processWide) return;
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

bool Logging::openLogFile(OutputFile& file, const std::string& path, int flags,
                          const std::string& failure) {
  if (file.open(path, flags | O_CREAT | O_NOFOLLOW)) return true;
  std::cout << failure << std::endl;
  std::cerr << path;
  if (file.error() == ELOOP)
    std::cerr << " is a symbolic link: a log is never written through one.";
  else if (file.error() == OutputFile::NOT_REGULAR)
    std::cerr << " is not a regular file: a log is never written to one.";
  else
    std::cerr << " could not be opened: " << std::strerror(file.error());
  std::cerr << std::endl;
  failed = true;
  return false;
}

bool Logging::openlog(std::string name, OutputFile* log) {
  const std::string path = folder + "/" + name + logindex + ".log";
  // Said when it happens, once a log: a full disk must not cut a log short unseen.
  log->onWriteFailure([this, path](int error) {
    std::cerr << path << " could not be written: " << std::strerror(error) << std::endl;
    failed = true;
  });
  return openLogFile(*log, path, O_TRUNC, path + "*********** " + name + ": could not open!!");
}

void Logging::closelog(bool* flag, OutputFile* log) {
  if (*flag && log->is_open()) {
    log->close();
    *flag = false;
  }
}
