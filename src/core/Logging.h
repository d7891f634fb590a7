#pragma once

#include <fstream>
#include <string>

// The diagnostic log files of the process, kept in one folder. A log's flag is on only while its
// file is open; writers test the flag before they write.
class Logging {
 public:
  Logging() = default;
  ~Logging();
  Logging(const Logging&) = delete;
  Logging& operator=(const Logging&) = delete;

  // Opens the sim, trans and server logs anew, emptying them.
  void open();
  void close();
  void setLogFolder(const std::string& f);
  void setLogIndex(int i);

  bool openlog(std::string name, std::fstream* log);
  void closelog(bool* flag, std::fstream* log);

  std::fstream* getSimLog() { return &simlog; }
  std::fstream* getEventLog() { return &eventlog; }
  std::fstream* getTransLog() { return &translog; }
  std::fstream* getTokenLog() { return &tokenlog; }
  bool isSimLogging() const { return simlogging; }
  bool isEventLogging() const { return eventlogging; }
  bool isTransLogging() const { return translogging; }
  bool isTokenLogging() const { return tokenlogging; }
  std::string getLogDir() const { return folder; }

 protected:
  std::string folder = ".";
  std::string logindex;
  bool simlogging = false;
  bool eventlogging = false;
  bool translogging = false;
  bool tokenlogging = false;
  bool serverlogging = false;
  bool clientlogging = false;
  std::fstream simlog;
  std::fstream eventlog;
  std::fstream translog;
  std::fstream tokenlog;
  std::fstream serverlog;
  std::fstream clientlog;
};
