#include "engine/Simulation.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <set>
#include <sstream>
#include <string_view>

#include "core/Assert.h"
#include "core/AtomicFileWriter.h"
#include "core/Logging.h"
#include "net/MeasureObj.h"
#include "net/NetClass.h"
#include "net/Transition.h"
#include "sockets/socket_t.h"
#include "sockets/task.h"

Simulation* Simulation::sim = nullptr;
volatile std::sig_atomic_t Simulation::interruptRequested = 0;

namespace {

// A result server is waited for as long as a connect tries, 100 times a second apart; one that
// takes no lines for as long is given up.
constexpr int kConnectAttempts = 100;
constexpr std::time_t kConnectPause = 1;

// Result lines carry every number with 16 significant digits in the default notation.
std::ostringstream& numberStream(std::ostringstream& text) {
  text << std::setprecision(16);
  return text;
}

}  // namespace

Simulation::Simulation(NetClass* net, const std::string& netname, const std::string& resport,
                       const DateTime& start, const DateTime& stop, int nofsampling, int mode,
                       bool numericTime, bool percentRule, double epsMax, double interval,
                       unsigned int secmax)
    // At least one sampling point: the per-point storage of the measures is sized by it.
    : nofsampling(std::max(nofsampling, 1)),
      numericTime(numericTime),
      percentRule(percentRule),
      noLimit(secmax == 0),
      secmax(secmax),
      mode(mode),
      epsMax(epsMax),
      interval(interval),
      net(net),
      netname(netname),
      resport(resport),
      start(&start),
      stop(stop) {
  nextSampling = start;
  currentTime = start;
  task::initialize(65536);
  initialized = false;
  KERNEL_ASSERT(sim == NULL);
  weight = 1.0;
  restartTime = 0.0;
  sim = this;
}

Simulation::~Simulation() {
  if (measureSocket != nullptr) deliver("EXIT;0\n");
  // A connection that failed there is given up already.
  if (measureSocket != nullptr) {
    measureSocket->close();
    delete measureSocket;
    measureSocket = nullptr;
  }
  // The net outlives its simulations; it must not keep pointing at this one.
  if (net != nullptr && net->getSimulation() == this) net->setSimulation(nullptr);
  sim = nullptr;
}

void Simulation::initMeasureSocket() {
  if (resport == "NULL") return;
  std::cout << "Try to connect to: " << resport << std::endl;
  socket_t::wait_policy waits;
  waits.idle_seconds = kConnectAttempts * kConnectPause;
  waits.stop = [this] { return resultWaitEnd(); };
  waits.waiting = [this] {
    std::cout << "No result server at " << resport << " yet: waiting up to "
              << kConnectAttempts * kConnectPause << " seconds for one." << std::endl;
  };
  measureSocket = socket_t::connect(resport.c_str(), socket_t::sock_any_domain, kConnectAttempts,
                                    kConnectPause, std::move(waits));
  if (measureSocket == nullptr) {
    std::cout << "Sim::init Failed to connect to server " << resport << std::endl;
  } else if (!measureSocket->is_ok()) {
    char text[256];
    measureSocket->get_error_text(text, sizeof text);
    std::cout << "Sim::init Connection to server " << resport << " failed: " << text << std::endl;
  } else {
    std::cout << "connection established.." << std::endl;
    resultPeerUp = true;
  }
}

const char* Simulation::resultWaitEnd() const {
  if (interruptRequested != 0) return "interrupted";
  if (runClockStarted && timeLimitReached()) return "run-time limit reached";
  return nullptr;
}

void Simulation::deliver(std::string_view text) {
  // A socket whose connect failed takes the lines unheard, as it always has.
  if (measureSocket->write(text.data(), text.size()) || !resultPeerUp) return;
  char why[256];
  measureSocket->get_error_text(why, sizeof why);
  std::cout << "Result connection to " << resport << " lost: " << why << std::endl;
  measureSocket->close();
  delete measureSocket;
  measureSocket = nullptr;
  resultPeerUp = false;
}

void Simulation::init() {
  startRunClock();
  initMeasureSocket();
  if (measureSocket != nullptr) {
    auto write = [this](const std::string& text) {
      if (measureSocket != nullptr) deliver(text);
    };
    write("NETNAME;" + netname + "\n" + (numericTime ? "XTICKFORMAT;0" : "XTICKFORMAT;3") + "\n");
    if (mode == TRANSIENT) {
      std::ostringstream startLine;
      numberStream(startLine) << "STARTTIME;" << start->FullDateTime() << "\n";
      write(startLine.str());
      std::ostringstream endLine;
      numberStream(endLine) << "ENDTIME;" << stop.FullDateTime() << "\n";
      write(endLine.str());
    }
    std::ostringstream timeLine;
    numberStream(timeLine) << "TIME;" << currentTime.FullDateTime() << "\n";
    write(timeLine.str());
  }
  net->setSimulation(this);
  initTransitions();
  initialized = true;
}

void Simulation::send(const std::string& text, bool measureLine) {
  if (measureSocket != nullptr) {
    deliver(text);
  } else if (std::ostream* log = Logging::sim()) {
    *log << "NO_SOCK: " << text;
    if (measureLine) *log << std::endl;
  }
}

void Simulation::measureOut(DefaultGM* element, MeasureObj* measure) {
  if (analysisState == ANALYSIS_NONE) return;
  // A measure that has not been analysed yet has no estimate to report.
  double mean;
  double halfWidth;
  if (!measure->lastEstimate(mean, halfWidth)) return;
  if (!initialized) {
    if (std::ostream* log = Logging::sim()) {
      *log << "meassureOut not initialized for measure object: " << std::setprecision(16) << mean
           << std::endl;
    }
    return;
  }
  if (measureSocket == nullptr && Logging::sim() == nullptr) return;
  double time;
  if (mode == RESTART) {
    time = restartTime;
  } else if (mode == TRANSIENT) {
    time = nextSampling.FullDateTime();
  } else {
    time = currentTime.FullDateTime();
  }
  std::ostringstream text;
  numberStream(text) << "TIME;" << time << "\n";
  if (measure->getWatch() && (!measure->accumulative() || mode == TRANSIENT)) {
    text << element->getName() << "<" << element->getType() << ":Mean>,<-ConfMin>,<+ConfMax>;"
         << mean << "," << mean - halfWidth << "," << mean + halfWidth << "\n";
  }
  send(text.str(), true);
}

void Simulation::reportValue(DefaultGM* element, double value, const char* kind,
                             const char* notInitialized, bool measureLine) {
  if (!initialized) {
    if (std::ostream* log = Logging::sim()) {
      *log << notInitialized << std::setprecision(16) << value << std::endl;
    }
    return;
  }
  if (measureSocket == nullptr && Logging::sim() == nullptr) return;
  std::ostringstream text;
  numberStream(text) << "TIME;" << currentTime.FullDateTime() << "\n"
                     << element->getName() << "<" << element->getType() << kind << ">;" << value
                     << "\n";
  send(text.str(), measureLine);
}

void Simulation::measureOut(DefaultGM* element, double value) {
  reportValue(element, value, "", "meassureOut not initialized: ", true);
}

void Simulation::displayOut(DefaultGM* element, double value) {
  reportValue(element, value, ":Display", "displayOut not initialized: ", false);
}

// ---------------------------------------------------------------------------------------------
// The event step.

void Simulation::appendCandidate(std::list<Binding*>& list, Binding* binding) {
  // Candidate lists are rebuilt for every event; their nodes are recycled instead of allocated.
  if (spareNodes.empty()) {
    list.push_back(binding);
  } else {
    list.splice(list.end(), spareNodes, spareNodes.begin());
    list.back() = binding;
  }
}

void Simulation::recycleCandidates(std::list<Binding*>& list) {
  spareNodes.splice(spareNodes.end(), list);
}

void Simulation::collectCandidates(std::list<Binding*>& candidates, bool all,
                                   const std::set<const Transition*>* passedOver) {
  if (all || passedOver != nullptr) {
    scanTransitions(candidates, all, passedOver);
    return;
  }
  // The list's own nodes are written over first: a step with as many candidates as the last one
  // moves no node.
  auto next = candidates.begin();
  net->getEventQueue().firstEvents([&](Binding* binding) {
    if (next != candidates.end()) {
      *next++ = binding;
    } else {
      appendCandidate(candidates, binding);
    }
  });
  spareNodes.splice(spareNodes.end(), candidates, next, candidates.end());
}

void Simulation::scanTransitions(std::list<Binding*>& candidates, bool all,
                                 const std::set<const Transition*>* passedOver) {
  DateTime minTime = DateTime::MAX;
  int maxPriority = 0;
  recycleCandidates(candidates);
  for (const auto& [name, transition] : net->getTransitions()) {
    Binding* binding = transition->getNextEvent();
    if (binding == nullptr) continue;
    if (passedOver != nullptr && binding->isTempBinding() && passedOver->count(transition) != 0) {
      continue;
    }
    if (all) {
      appendCandidate(candidates, binding);
    } else if (binding->getTime() < minTime ||
               (binding->getTime() == minTime && binding->getPriority() > maxPriority)) {
      recycleCandidates(candidates);
      appendCandidate(candidates, binding);
      minTime = binding->getTime();
      maxPriority = binding->getPriority();
    } else if (binding->getTime() == minTime && binding->getPriority() == maxPriority) {
      appendCandidate(candidates, binding);
    }
  }
}

void Simulation::getFirstBindingsOfAllTransitions(std::list<Binding*>* candidates, bool all) {
  collectCandidates(*candidates, all, nullptr);
  for (const Binding* binding : *candidates) {
    if (binding->isTempBinding()) {
      convertPlaceholders(*candidates, all);
      return;
    }
  }
}

void Simulation::convertPlaceholders(std::list<Binding*>& candidates, bool all) {
  std::list<Binding*> unconverted;
  // Placeholders that cannot convert are moved on one second at a time until another event
  // comes first. Nothing changes the marking meanwhile, so a placeholder that failed once fails
  // again: once every pending event is such a placeholder the marking is dead. Past the run's
  // stop time moving them on is pointless, but a later placeholder may still convert: the search
  // then passes over the failed ones and goes on in time order through the real events and the
  // placeholders not tried yet, so the run ends by its stop time, not as a dead marking.
  std::set<const Transition*> failed;
  const std::set<const Transition*>* passedOver = nullptr;
  const DateTime horizon = stop > *start ? stop : DateTime::MAX;
  for (;;) {
    if (candidates.empty()) return;

    const size_t count = candidates.size();
    for (auto it = candidates.begin(); it != candidates.end();) {
      Binding* binding = *it;
      if (!binding->isTempBinding()) {
        ++it;
        continue;
      }
      if (std::ostream* log = Logging::sim()) {
        *log << "***********************" << std::endl
             << "TempBinding found at " << currentTime << std::endl
             << *binding << std::endl;
      }
      if (binding->getBoundTransition()->convertTimeguardBinding(binding)) {
        ++it;
      } else {
        auto next = std::next(it);
        unconverted.splice(unconverted.end(), candidates, it);
        it = next;
      }
    }
    if (unconverted.size() < count) {
      recycleCandidates(unconverted);
      return;
    }

    const DateTime later = (*unconverted.begin())->getTime() + 1;
    for (auto it = unconverted.rbegin(); it != unconverted.rend(); ++it) {
      Transition* transition = (*it)->getBoundTransition();
      failed.insert(transition);
      transition->removeBinding(*it, false);
      transition->addTimeguardBinding(later);
    }
    recycleCandidates(unconverted);

    // An event beyond the calendar's end is never found: it leaves the marking as dead as none.
    bool eventLeft = false;
    for (const auto& [name, transition] : net->getTransitions()) {
      const Binding* next = transition->getNextEvent();
      if (next != nullptr && (!next->isTempBinding() || failed.count(transition) == 0) &&
          EventQueue::everDue(next->getTime().FullDateTime(), next->getPriority())) {
        eventLeft = true;
      }
    }
    if (!eventLeft) return;
    if (later > horizon || later >= DateTime::MAX) passedOver = &failed;
    collectCandidates(candidates, all, passedOver);
  }
}

Binding* Simulation::resolve_conflicts(std::list<Binding*>& candidates) {
  const size_t n = candidates.size();
  std::ostream* log = Logging::sim();
  if (log) {
    *log << " ******* FIRE ****** " << currentTime << std::endl
         << printEventList(candidates) << std::endl;
  }
  if (n == 0) {
    if (log) *log << "can't fire..." << std::endl;
    return nullptr;
  }
  Binding* chosen = candidates.front();
  if (n > 1) {
    if (log) {
      *log << "\n\n\n     ----    !! select randomly !!    ---- \n\n" << std::endl
           << "\t" << n << "\t transitions in conflict:" << std::endl;
    }
    if (candidates.front()->getPriority() > 0) {
      double sum = 0.0;
      for (const Binding* binding : candidates) sum += binding->getWeight();
      if (log) *log << "\t total amount of weights = " << sum << std::endl;
      const double r = random.randu01() * sum;
      if (log) *log << "\t randomly selected weight = " << r << std::endl;
      double running = 0.0;
      chosen = candidates.back();
      for (Binding* binding : candidates) {
        if (r <= running + binding->getWeight()) {
          chosen = binding;
          break;
        }
        running += binding->getWeight();
      }
    } else {
      const Long32 k = random.randint(0, static_cast<Long32>(n) - 1);
      if (log) *log << "\t randomly selected event = " << k << std::endl;
      chosen = *std::next(candidates.begin(), k);
    }
    if (log) *log << "\n\n     ---- !! END of random select !!  ---- \n\n\n" << std::endl;
  }
  lastChosen = chosen->getBoundTransition()->getName();
  return chosen;
}

void Simulation::executeEvent(Binding* binding) {
  if (auto* log = Logging::event()) {
    *log << "************** EVENT BEGIN *********************" << std::endl
         << currentTime.FullDateTime() << std::endl
         << *binding << std::endl
         << std::endl;
  }
  binding->getBoundTransition()->fire(binding, weight);
}

void Simulation::updateSimulationTime(const DateTime& time) {
  if (time == currentTime) return;
  currentTime = time;
  if (!initialized) {
    if (std::ostream* log = Logging::sim()) {
      *log << "measureOut not initialized, couldn't send Time: " << currentTime << std::endl;
    }
  }
}

std::string Simulation::printEventList(std::list<Binding*>& bindings) {
  static const int MAXCOUNT = 10;
  std::ostringstream text;
  text << " ******** ---- EventList ---- ********\n";
  const Transition* runOf = nullptr;
  int allowance = 0;
  bool skipping = false;
  for (const Binding* binding : bindings) {
    const Transition* transition = binding->getBoundTransition();
    if (runOf == nullptr || transition->getName() != runOf->getName()) {
      runOf = transition;
      allowance = MAXCOUNT;
      skipping = false;
      text << *binding << "\n";
    } else if (skipping) {
      continue;
    } else if (allowance > 0) {
      --allowance;
      text << *binding << "\n";
    } else {
      text << "Binding[..., " << transition->getName() << ",  ...  ]\n";
      skipping = true;
    }
  }
  text << "---- --------- ----\n";
  return text.str();
}

void Simulation::logFiring(const Binding* binding) {
  if (std::ostream* log = Logging::sim()) *log << "FIRING: " << *binding << std::endl;
}

// ---------------------------------------------------------------------------------------------
// Measure updates, sampling points and start-up.

// Asked for every measure on every event: the length is compared first.
bool Simulation::isImportance(const MeasureObj* measure) {
  return measure->getName() == std::string_view("ImportanceFunction");
}

void Simulation::updateAllMeasures(Binding* binding, bool accumulate, bool samplingPoint) {
  for (MeasureObj* m : net->getMeasureList()) {
    if (isImportance(m)) continue;
    if (resetMeasures) m->requestReset();
    if (m->precisionReached()) continue;
    m->resetIfRequested(*start);
    if (samplingPoint && !m->accumulative() && !m->timeaverage()) continue;
    if (accumulate) m->accum(binding, weight);
  }
  resetMeasures = false;
}

bool Simulation::updateSamplingPoints(bool batch) {
  bool allOk = true;
  double maxError = 0.0;
  for (MeasureObj* m : net->getMeasureList()) {
    if (isImportance(m) || m->precisionReached()) continue;
    m->setPercentRule(percentRule);
    m->setEpsMax(epsMax);
    if (mode == TRANSIENT) {
      const double value = m->measure(-1.0);
      // Only the point at the stop time closes a replication's precision test; a test at the
      // point before it would finish the measure one point early.
      const bool lastPoint = atLastSamplingPoint();
      if (analysisState != ANALYSIS_NONE) {
        const bool ok = m->makeTransientAnalysis(alpha, value, loop, lastPoint);
        allOk = allOk && ok;
      } else {
        // The replications before the first estimate still count towards the running mean and
        // variance of every sampling point; they only produce no report and no success.
        double mean;
        double variance;
        m->addToRunningStatistics(value, loop, mean, variance);
      }
      measureOut(m, m);
    } else {
      // A RESTART measure divides what it has accumulated, weighted, by the main path's time
      // since the previous point: time spent in retrials is already counted at reduced weight.
      const double value = m->measure(mode == STATIONARY ? -1.0 : restartTime - restartSampleBase);
      // A batch counts by the time it covers: simulated time in a stationary run, the main
      // path's time in a RESTART run.
      const double duration = mode == STATIONARY ? eventTime.FullDateTime() - m->windowStart()
                                                 : restartTime - restartSampleBase;
      const size_t batchValues = m->addBatchValue(value, duration);
      m->reset(eventTime);
      if (batch && analysisState == ANALYSIS_ON && batchValues >= BatchMeans::MIN_BATCHES) {
        const bool ok = m->makeStationaryAnalysis(alpha, start->FullDateTime(),
                                                  nextSampling.FullDateTime());
        allOk = allOk && ok;
        measureOut(m, m);
        maxError = std::max(maxError, m->lastEpsilon());
      } else {
        allOk = false;
      }
    }
    if (maxError > 0.0) {
      const std::time_t now = std::time(nullptr);
      if (static_cast<unsigned long>(now - lastProgressPrint) > 9) {
        std::cout << "remaining relative error " << maxError << std::endl;
        lastProgressPrint = now;
      }
    }
  }
  return allOk;
}

void Simulation::initMeasureList(bool first) {
  for (MeasureObj* m : net->getMeasureList()) {
    if (first) m->prepareSamplingPoints(nofsampling);
    m->rewind(loop);
  }
}

void Simulation::initTransitions() {
  if (std::ostream* log = Logging::sim()) {
    *log << "************** starting init()... *****************" << std::endl;
  }
  for (const auto& [name, transition] : net->getTransitions()) transition->startup();
}

// ---------------------------------------------------------------------------------------------
// What every run shares. The runs themselves lie in SimulationTransient.cpp,
// SimulationStationary.cpp and SimulationRestart.cpp.

void Simulation::startRunClock() {
  if (runClockStarted) return;
  runStart = std::chrono::steady_clock::now();
  runClockStarted = true;
}

bool Simulation::timeLimitReached() const {
  if (noLimit) return false;
  const std::chrono::duration<double> running = std::chrono::steady_clock::now() - runStart;
  return running.count() >= secmax;
}

bool Simulation::mustEnd() {
  if (interruptRequested != 0) return true;
  if (noLimit || --eventsToClockReading > 0) return false;
  eventsToClockReading = EVENTS_PER_CLOCK_READING;
  return timeLimitReached();
}

bool Simulation::analysisPossible() const {
  if (student_level_supported(1.0 - alpha / 2.0)) return true;
  // Without a quantile every half-width would be 0 and every measure precise at once.
  std::cout << "\nNO ANALYSIS POSSIBLE: THE CONFIDENCE MUST BE AT LEAST 80 AND BELOW 100.";
  return false;
}

void Simulation::rebuildNet() {
  resetCurrentTime();
  net->clearMaps();
  net->buildNet();
  net->addStoredTokens();
  net->loadMeasureList(mode);
  initTransitions();
}

void Simulation::shutdown() {
  std::cout << std::endl << std::endl;
  // Written beside the previous results and put in their place once whole: a full disk or a
  // link planted under the name must neither cut the file nor write elsewhere.
  AtomicFileWriter results("results.log");
  std::ostream& file = results.stream();
  const char* header =
      mode == TRANSIENT ? "RESULTS OF TRANSIENT SIMULATION" : "RESULTS OF STATIONARY SIMULATION";
  file << header << std::endl;
  std::cout << header << std::endl;
  double t;
  if (mode == STATIONARY && noStop) {
    nextSampling -= interval;
    t = nextSampling.FullDateTime();
  } else {
    t = stop.FullDateTime();
  }
  file << std::setprecision(3) << "SIMULATION TIME: " << t << std::endl << std::endl;
  std::cout << std::setprecision(3) << "SIMULATION TIME: " << t << std::endl << std::endl;
  for (MeasureObj* m : net->getMeasureList()) m->writeResult(file, std::cout, mode, start, &interval);
  if (!results.commit()) {
    std::cerr << "results.log could not be written: " << results.error() << std::endl;
    failed = true;
  }
}
