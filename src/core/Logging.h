#pragma once

#include <fstream>
#include <string>

// The diagnostic log files of the process, kept in one folder. A log's flag is on only while its
// file is open; writers test the flag before they write.
class Logging {
 public:
  // The process's one log object, built on first use so that static initialisers of any source may
  // log through it; the exit handlers destroy it, `exit` included, closing its files.
  static Logging& instance() {
    static Logging theLog;
    return theLog;
  }
  // Each log's stream while that log is on, else null, so that nothing is formatted for a log that
  // is off: `if (auto* log = Logging::trans()) *log << ...`. Asked many times per event, so each is
  // one load of a variable that opening and closing keep current.
  static std::fstream* sim() { return simStream; }
  static std::fstream* event() { return eventStream; }
  static std::fstream* trans() { return transStream; }
  static std::fstream* token() { return tokenStream; }

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
  static std::fstream* on(bool flag, std::fstream& log) { return flag ? &log : nullptr; }
  void publish();

  static inline std::fstream* simStream = nullptr;
  static inline std::fstream* eventStream = nullptr;
  static inline std::fstream* transStream = nullptr;
  static inline std::fstream* tokenStream = nullptr;

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
