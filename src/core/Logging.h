#pragma once

#include <ostream>
#include <string>

#include "core/OutputFile.h"

// The diagnostic log files of the process, kept in one folder. A log's flag is on only while its
// file is open; writers test the flag before they write.
class Logging {
 public:
  // The process's one log object, built on first use so that static initialisers of any source may
  // log through it; the exit handlers destroy it, `exit` included, closing its files.
  static Logging& instance() {
    static Logging theLog(true);
    return theLog;
  }
  // Each log's stream of the process's log object while that log is on, else null, so that
  // nothing is formatted for a log that is off: `if (auto* log = Logging::trans()) *log << ...`.
  // Asked many times per event, so each is one load of a variable that the process's object keeps
  // current as it opens and closes; any other object (a tool's, a test's) leaves it alone.
  static std::ostream* sim() { return simStream; }
  static std::ostream* event() { return eventStream; }
  static std::ostream* trans() { return transStream; }
  static std::ostream* token() { return tokenStream; }

  // Opens a file of the log folder for writing with open(2)'s `flags`, creating it, but never
  // through a link: in a shared folder one planted under a log's name would have the run overwrite
  // the file it points to. Nor is anything but a regular file written: a FIFO would hold the run.
  // On failure prints `failure` on standard output and why on standard error, and the run is to
  // end saying it failed: a script must learn that a log it asked for was never written.
  bool openLogFile(OutputFile& file, const std::string& path, int flags,
                   const std::string& failure);

  Logging() = default;
  ~Logging();
  Logging(const Logging&) = delete;
  Logging& operator=(const Logging&) = delete;

  // Opens the sim, trans and server logs anew, emptying them.
  void open();
  void close();
  void setLogFolder(const std::string& f);
  void setLogIndex(int i);

  bool openlog(std::string name, OutputFile* log);
  void closelog(bool* flag, OutputFile* log);

  std::ostream* getSimLog() { return &simlog; }
  std::ostream* getEventLog() { return &eventlog; }
  std::ostream* getTransLog() { return &translog; }
  std::ostream* getTokenLog() { return &tokenlog; }
  bool isSimLogging() const { return simlogging; }
  bool isEventLogging() const { return eventlogging; }
  bool isTransLogging() const { return translogging; }
  bool isTokenLogging() const { return tokenlogging; }
  std::string getLogDir() const { return folder; }
  // A log could not be opened or lost text: the run went on, and ends saying it failed.
  bool hasFailed() const { return failed; }

 protected:
  explicit Logging(bool processWide) : processWide(processWide) {}
  static std::ostream* on(bool flag, std::ostream& log) { return flag ? &log : nullptr; }
  void publish();

  static inline std::ostream* simStream = nullptr;
  static inline std::ostream* eventStream = nullptr;
  static inline std::ostream* transStream = nullptr;
  static inline std::ostream* tokenStream = nullptr;

  // Only the process's object sets the streams that sim() and the others give.
  const bool processWide = false;

  std::string folder = ".";
  std::string logindex;
  bool simlogging = false;
  bool eventlogging = false;
  bool translogging = false;
  bool tokenlogging = false;
  bool serverlogging = false;
  bool clientlogging = false;
  bool failed = false;
  OutputFile simlog;
  OutputFile eventlog;
  OutputFile translog;
  OutputFile tokenlog;
  OutputFile serverlog;
  OutputFile clientlog;
};
