#include "frontend/Server.h"

#include <tclap/CmdLine.h>

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "core/AtomicFileWriter.h"
#include "core/FreshBits.h"
#include "core/RandomWrapper.h"
#include "engine/Performance.h"
#include "frontend/MainClass.h"
#include "frontend/TokenGame.h"

namespace {

// An unsigned 32-bit option value. The standard extraction reads "-1" as 4294967295; a sign is
// refused here, so that the library reports the value as unreadable, as it does one beyond range.
struct Unsigned32 {
  using ValueCategory = TCLAP::ValueLike;
  unsigned int value = 0;
};

std::istream& operator>>(std::istream& in, Unsigned32& number) {
  if ((in >> std::ws).peek() == '-') {
    in.setstate(std::ios::failbit);
  } else {
    in >> number.value;
  }
  return in;
}

// An on/off option value: "true" or 1 is on, "false" or 0 is off. The standard extraction of a bool
// reads only the digits, although the help offers the words.
struct OnOff {
  using ValueCategory = TCLAP::ValueLike;
  static constexpr const char* hint = "true or 1 (on), false or 0 (off)";
  bool on = true;
};

std::istream& operator>>(std::istream& in, OnOff& value) {
  std::string word;
  in >> word;
  if (word == "true" || word == "1") {
    value.on = true;
  } else if (word == "false" || word == "0") {
    value.on = false;
  } else {
    in.setstate(std::ios::failbit);
  }
  return in;
}

// A value option that refuses an empty value as unreadable. The library's extraction reads nothing
// from an empty text and leaves the default in place, so "--seed ''" would pass for an absent seed.
template <typename T>
class Value : public TCLAP::ValueArg<T> {
 public:
  using TCLAP::ValueArg<T>::ValueArg;
  bool processArg(int* i, std::vector<std::string>& args) override {
    if (!TCLAP::ValueArg<T>::processArg(i, args)) return false;
    if (args[*i].empty())
      throw TCLAP::ArgParseException("Couldn't read argument value from string ''",
                                     this->toString());
    return true;
  }
};

// A date of the text form that names itself: Check lets fields like 24:00:00 or 02/30 through,
// which the calendar would carry over into another day.
bool isDate(const std::string& text) {
  return DateTime::Check(text) && DateTime(text).toString() == text;
}

// The most sampling points a transient run takes: every measure sets storage aside for all of them
// before the first replication, so a count near the type's limit ends in an allocation failure.
constexpr unsigned int MAX_SAMPLING_POINTS = 1000000;

// A seed of its own for every run, printed so that the run can be repeated: runs started together,
// as a script starts them in parallel, must not repeat each other. 0 is no seed the streams take.
unsigned int defaultSeed() {
  unsigned int seed;
  do seed = static_cast<unsigned int>(freshBits());
  while (seed == 0);
  return seed;
}

// The failure report of the command line: the library's error block on standard error, status 1.
[[noreturn]] void fail(TCLAP::CmdLine& cmd, const std::string& text) {
  TCLAP::ArgException error(text, "undefined", "Generic ArgException");
  try {
    cmd.getOutput()->failure(cmd, error);
  } catch (TCLAP::ExitException& exit) {
    std::exit(exit.getExitStatus());
  }
  std::exit(1);
}

// Set once a run looks at requests: from then on the first one only sets the engine's flag, and the
// run ends at its next event with its results. Before that nothing looks at the flag, and the
// program may be blocked where nothing would (opening a file, a driver reading its configuration):
// a request then ends it at once.
volatile std::sig_atomic_t runTakesRequests = 0;

// Requests that come together are one: timeout(1) sends its signal to the program and again to
// the program's group. Only a request this much later, a person's second Ctrl-C, ends the program
// at once.
constexpr double kSecondRequestAfter = 1.0;

// Ends the process by the signal's default action, as its sender expects, once the handler returns
// (the handler blocks the signal while it runs); a results file half written goes with it.
void endBy(int signal) {
  AtomicFileWriter::removeUncommitted();
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  raise(signal);
}

extern "C" void requestEndOfRun(int signal) {
  if (runTakesRequests == 0) {
    static const char said[] =
        "Interrupted before any results: the program ends, results.log is left as it was.\n";
    const ssize_t ignored = write(STDERR_FILENO, said, sizeof said - 1);
    (void)ignored;  // nothing is left to tell a failure to
    endBy(signal);
    return;
  }
  // Touched only here, and the handler blocks both signals while it runs.
  static timespec first{};
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  if (Simulation::interruptRequested == 0) {
    first = now;
    Simulation::interruptRequested = 1;
    return;
  }
  const double since =
      static_cast<double>(now.tv_sec - first.tv_sec) + (now.tv_nsec - first.tv_nsec) / 1e9;
  if (since >= kSecondRequestAfter) endBy(signal);
}

}  // namespace

// The options, in the order they are defined; the five mode switches form one exclusive group.
struct Server::CommandLine {
  using Text = Value<std::string>;
  using Number = Value<double>;
  using Whole = Value<int>;
  using Unsigned = Value<Unsigned32>;
  using Flag = Value<OnOff>;

  TCLAP::CmdLine cmd{"DEVA Simulation", ' ', VUDI_VERSION, true};
  TCLAP::SwitchArg tokengame{"t", "tokengame", "Tokengame mode", false};
  TCLAP::SwitchArg stationary{"S", "stat_simulation", "Stationary Simulation mode", false};
  TCLAP::SwitchArg transient{"T", "trans_simulation", "Transient Simulation mode", false};
  TCLAP::SwitchArg performance{"p", "performance", "Profiling mode", false};
  TCLAP::SwitchArg restart{"R", "restart_simulation", "RESTART Simulation mode", false};
  Text resport{"", "resport", "Result port", false, "NULL", "NULL, host:port or a same-host name"};
  Text start{"", "start", "Start time", false, "", "hh:mm:ss@mm/dd/yyyy"};
  Text stop{"", "stop", "Stop time", false, "", "hh:mm:ss@mm/dd/yyyy"};
  Number mstart{"", "mstart", "Start time", false, 0.0, "Value >= 0"};
  Number mstop{"", "mstop", "Stop time", false, 0.0, "Value > start (-T), >= start (-S)"};
  Whole fcount{"", "fcount", "Number of transitions to fire before stop.", false, 0, "integer>0"};
  Whole lcount{"", "lcount", "How many times to repeat each profiling run.", false, 0,
               "integer>0"};
  TCLAP::SwitchArg log{"l", "log", "Enable logging", false};
  Text logdir{"", "logdir", "Directory for logging output.", false, "", "Path to directory"};
  Unsigned seed{
      "", "seed", "Random seed", false, Unsigned32{defaultSeed()}, "integer from 0 to 4294967295"};
  Number confidence{"", "confidence", "Confidence Interval.", false, 80.0,
                    "80.0 <= double <= 99.8"};
  Number epsmax{"", "epsmax", "Max. relative fault.", false, 1.0, "double > 0.0"};
  Unsigned secmax{"", "secmax", "Max. runtime in seconds.", false, Unsigned32{1},
                  "integer>=0 (0: no limit)"};
  Unsigned nofsampling{"", "nofsampling", "Number of sampling points.", false, Unsigned32{1},
                       "integer from 1 to " + std::to_string(MAX_SAMPLING_POINTS)};
  Flag percentage{"", "percentage", "Per cent rule on or off.", false, OnOff{}, OnOff::hint};
  Flag inittrans{"", "inittrans", "Ignore InitTrans on or off.", false, OnOff{}, OnOff::hint};
  Number thrmin{"", "thrmin", "Thresholds min value", false, 0.0, "double"};
  Number thrmax{"", "thrmax", "Thresholds max value", false, 0.0, "double > thrmin"};
  Whole thrnumber{"", "thrnumber", "Thresholds number", false, 0, "integer>=0"};
  Whole repeats{"", "repeats", "Number of RESTART repeats", false, 0, "integer>0"};

  CommandLine() {
    cmd.xorAdd({&tokengame, &stationary, &transient, &restart, &performance});
    for (TCLAP::Arg* arg : std::initializer_list<TCLAP::Arg*>{
             &resport, &start, &stop, &mstart, &mstop, &fcount, &lcount, &log, &logdir, &seed,
             &confidence, &epsmax, &secmax, &nofsampling, &percentage, &inittrans, &thrmin,
             &thrmax, &thrnumber, &repeats})
      cmd.add(arg);
  }

  [[noreturn]] void fail(const std::string& text) { ::fail(cmd, text); }

  // The time a text option names, or the failure `invalid` for a text that names none.
  DateTime dateOf(const Text& option, const char* what, const char* invalid) {
    const std::string& text = option.getValue();
    // A day the program never prints: the runs from 0 s print the calendar's first day on.
    if (DateTime::BeforeCalendar(text))
      fail(std::string(what) + " lies before the calendar's start, " + DateTime(0.0).toString() +
           " (0 s).");
    if (!isDate(text)) fail(invalid);
    return DateTime(text);
  }

  // The engine takes the calendar's end for "no event": a run from or to there would fire nothing
  // and still report success.
  void failPastCalendarEnd(const DateTime& time, const char* what) {
    if (!(time < DateTime::MAX))
      fail(std::string(what) + " must be before the calendar's end, " + DateTime::MAX.toString() +
           " (" + std::to_string(static_cast<long long>(DateTime::MAX.FullDateTime())) + " s).");
  }
};

std::string Server::netName(const char* path) {
  if (path == nullptr) return {};
  const std::string text = path;
  const size_t sep = text.find_last_of("\\/");
  if (sep == std::string::npos) return text;
  size_t dot = text.rfind('.');
  if (dot == std::string::npos || dot < sep) dot = text.size();
  return text.substr(sep + 1, dot - sep - 1);
}

void Server::handleSignals() {
  // A console whose reader went away fails its writes instead of killing the process: the run
  // goes on and writes its results, and the program ends saying the console failed.
  signal(SIGPIPE, SIG_IGN);
  struct sigaction action {};
  action.sa_handler = requestEndOfRun;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  action.sa_flags = SA_RESTART;
  sigset_t handled;
  sigemptyset(&handled);
  for (int signal : {SIGINT, SIGTERM}) {
    // A signal the program was started to ignore (a background job, nohup) stays ignored.
    struct sigaction old {};
    if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
      sigaction(signal, &action, nullptr);
      sigaddset(&handled, signal);
    }
  }
  // A launcher may start its children with these blocked: a handler that never runs ends nothing.
  sigprocmask(SIG_UNBLOCK, &handled, nullptr);
}

void Server::leaveRequestsToTheRun() { runTakesRequests = 1; }

void Server::start(int argc, char** argv) {
  if (current != nullptr) {
    std::cout << "Simulation already running" << std::endl;
    return;
  }
  const std::string name = netName(argc > 0 ? argv[0] : nullptr);
  std::cout << "netname: " << name << std::endl;

  CommandLine line;
  line.cmd.parse(argc, argv);

  if (line.log.isSet()) {
    const std::string folder = line.logdir.getValue().empty() ? "Log" : line.logdir.getValue();
    // Logging into a folder that is not there would announce logs that are never written.
    std::error_code error;
    if (!std::filesystem::is_directory(folder, error))
      line.fail(
          "Log folder " + folder +
          (std::filesystem::exists(folder, error) ? " is not a folder." : " does not exist."));
    std::cout << "logging on (folder: " << folder << ")" << std::endl;
    MainClass::getLog()->setLogFolder(folder);
    MainClass::getLog()->open();
  } else {
    std::cout << "logging off" << std::endl;
  }

  const unsigned int seed = line.seed.getValue().value;
  std::cout << "Random seed set to " << seed << std::endl;
  const auto words = RandomWrapper::seedWords(seed);
  for (size_t i = 0; i < words.size(); ++i)
    std::cout << "Setting individual seed number " << i << " to " << words[i] << std::endl;
  const bool accepted = RandomWrapper::SetPackageSeed(words.data());
  std::cout << "Was the seed accepted? " << (accepted ? "true" : "false") << std::endl;

  std::cout << "Result port set to " << line.resport.getValue() << std::endl;

  if (line.performance.isSet()) {
    runProfiling(line, name);
  } else {
    // The run's object keeps a reference to the start time: it lives until that object is gone.
    DateTime start;
    if (line.start.isSet()) {
      start = line.dateOf(line.start, "Start time", "Format of start time invalid.");
      startGivenAsNumber = false;
    } else if (line.mstart.isSet()) {
      if (!(line.mstart.getValue() >= 0.0)) line.fail("Start time < 0.0");
      start = DateTime(line.mstart.getValue());
      startGivenAsNumber = true;
    } else {
      line.fail("Missing argument starttime.");
    }
    line.failPastCalendarEnd(start, "Start time");
    if (line.stationary.isSet() || line.transient.isSet() || line.restart.isSet()) {
      runSimulation(line, name, start);
    } else {
      runTokenGame(line, name, start);
    }
  }

  if (line.log.isSet()) {
    MainClass::getLog()->close();
    if (MainClass::getLog()->hasFailed()) failed = true;
  }
}

void Server::buildNet() {
  net.buildNet();
  net.createTokens();
}

void Server::runProfiling(CommandLine& line, const std::string& name) {
  if (!line.fcount.isSet()) line.fail("Missing argument firecount.");
  if (!line.lcount.isSet()) line.fail("Missing argument loopcount.");
  const long fcount = line.fcount.getValue(), lcount = line.lcount.getValue();
  if (fcount <= 0) line.fail("Fire count must be > 0.");
  if (lcount <= 0) line.fail("Loop count must be > 0.");
  buildNet();
  std::cout << "Running in profiling mode " << fcount << "*" << lcount << std::endl;
  const DateTime start;
  auto* performance = new Performance(&net, name, line.resport.getValue(), start, fcount, lcount);
  current = performance;
  leaveRequestsToTheRun();
  performance->run();
  current->shutdown();
  failed = current->hasFailed();
  delete current;
  current = nullptr;
}

void Server::runSimulation(CommandLine& line, const std::string& name, const DateTime& start) {
  const bool stationary = line.stationary.isSet(), transient = line.transient.isSet();
  simulationType = stationary ? Simulation::STATIONARY
                   : transient ? Simulation::TRANSIENT
                               : Simulation::RESTART;
  DateTime stop;
  if (line.stop.isSet()) {
    stop = line.dateOf(line.stop, "Stop time", "Format of stoptime invalid.");
  } else if (line.mstop.isSet()) {
    stop = DateTime(line.mstop.getValue());
    if (transient && stop <= start) line.fail("Stop time <= Start time.");
  } else {
    line.fail("Missing argument stop.");
  }
  // In either form: a stationary run stopped before its start fires nothing and reports success.
  if (stationary && stop < start) line.fail("Stop time < Start time.");
  line.failPastCalendarEnd(stop, "Stop time");

  // Values the runs cannot work with: beyond these bounds every half-width is 0 (confidence), a
  // transient run never reaches its precision (epsmax) or the sampling points outgrow memory.
  const double confidence = line.confidence.getValue(), epsmax = line.epsmax.getValue();
  if (!(confidence >= 80.0 && confidence <= 99.8))
    line.fail("Confidence interval must be from 80.0 to 99.8.");
  if (!(epsmax > 0.0)) line.fail("Max. relative fault must be > 0.0.");
  const unsigned int points = line.nofsampling.getValue().value;
  if (transient && (points == 0 || points > MAX_SAMPLING_POINTS))
    line.fail("Number of sampling points must be from 1 to " + std::to_string(MAX_SAMPLING_POINTS) +
              ".");

  if (line.secmax.isSet()) {
    secmax = line.secmax.getValue().value;
    if (secmax == 0) secmax = UINT_MAX;
  }

  int nofsampling = 1;
  double interval = 0.0;
  if (transient) {
    // Tested before the build: no net is built and no database contacted for a run that cannot be.
    const double diff = stop.FullDateTime() - start.FullDateTime();
    if (!(diff > 0)) {
      std::cerr << "Stop time of simulation must be after the start time." << std::endl;
      std::exit(1);
    }
    nofsampling = static_cast<int>(points);
    interval = diff / 100.0;
  }

  buildNet();
  const std::string& resport = line.resport.getValue();
  std::cout << "Running simulation from " << start << " to " << stop
            << " :: displayaddress=" << resport << std::endl;
  current = new Simulation(&net, name, resport, start, stop, nofsampling, simulationType,
                           startGivenAsNumber, line.percentage.getValue().on, epsmax / 100.0,
                           interval, secmax);
  alpha = 1.0 - confidence / 100.0;
  // From the wait for a result server on, which looks at requests too.
  leaveRequestsToTheRun();
  current->init();
  switch (simulationType) {
    case Simulation::TRANSIENT: current->run_transient(alpha); break;
    case Simulation::STATIONARY: current->run_stationary(alpha); break;
    default:
      current->run_restart(alpha, line.repeats.getValue(), line.thrmin.getValue(),
                           line.thrmax.getValue(), line.thrnumber.getValue());
  }
  current->shutdown();
  failed = current->hasFailed();
  delete current;
  current = nullptr;
}

void Server::runTokenGame(CommandLine& line, const std::string& name, const DateTime& start) {
  buildNet();
  const std::string& resport = line.resport.getValue();
  std::cout << "Running tokengame from " << start << " :: displayaddress=" << resport << std::endl;
  const auto game = std::make_unique<TokenGame>(&net, name, resport, start);
  game->run();
  game->shutdown();
  failed = game->hasFailed();
}
