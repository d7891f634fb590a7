#pragma once

#include <chrono>
#include <csignal>
#include <ctime>
#include <list>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/DateTime.h"
#include "core/RandomWrapper.h"
#include "engine/SimSavedState.h"
#include "net/RunContext.h"

class Binding;
class DefaultGM;
class MeasureObj;
class NetClass;
class socket_t;
class Transition;

// The run object of the engine: run parameters, the simulation clock, the stream for conflict
// choices and the result socket. Exactly one exists at a time, reachable as Simulation::sim.
class Simulation : public RunContext {
 public:
  // Analysis state. The batch runs start at ANALYSIS_FIRST_BATCH and raise it by one per batch
  // end, so their first three batch ends only collect values; the transient run goes from
  // ANALYSIS_NONE, which reports no estimate, to ANALYSIS_ON after its sixth replication.
  enum AnalysisState {
    ANALYSIS_FIRST_BATCH = -2,
    ANALYSIS_SECOND_BATCH = -1,
    ANALYSIS_NONE = 0,
    ANALYSIS_ON = 1
  };
  // Events per base batch of the stationary run.
  static constexpr int BATCH_EVENTS = 100;
  // Events between two readings of the wall clock for the run-time limit.
  static constexpr int EVENTS_PER_CLOCK_READING = 4096;

  // Set by the front end's SIGINT and SIGTERM handler, and by nothing else: the run ends at its
  // next event as it does at its run-time limit, keeping what it has computed.
  static volatile std::sig_atomic_t interruptRequested;

  Simulation(NetClass* net, const std::string& netname, const std::string& resport,
             const DateTime& start, const DateTime& stop, int nofsampling, int mode,
             bool numericTime, bool percentRule, double epsMax, double interval,
             unsigned int secmax);
  virtual ~Simulation();

  Simulation(const Simulation&) = delete;
  Simulation& operator=(const Simulation&) = delete;

  virtual void init();
  bool isSingleStep() const override { return false; }
  virtual Binding* resolve_conflicts(std::list<Binding*>& candidates);
  virtual void run_transient(double& alpha);
  virtual void run_stationary(double& alpha);
  virtual void run_restart(double& alpha, int repeats, double thrmin, double thrmax,
                           int thrnumber);
  virtual void shutdown();
  virtual void initMeasureSocket();
  // True when the run could not give what it was asked for: its results could not be written, or
  // no front end could play the token game. The caller ends the process with a failure status.
  bool hasFailed() const { return failed; }

  // Result-socket reports.
  void measureOut(DefaultGM* element, MeasureObj* measure);
  void measureOut(DefaultGM* element, double value) override;
  void displayOut(DefaultGM* element, double value) override;
  socket_t* getMeasureSocket() { return measureSocket; }
  bool hasMeasureSocket() const { return measureSocket != nullptr; }
  const DateTime& getCurrentSimulationTime() const final { return currentTime; }
  double getPathWeight() const final { return weight; }

  // The event step.
  void getFirstBindingsOfAllTransitions(std::list<Binding*>* candidates, bool all);
  void executeEvent(Binding* binding);
  void updateSimulationTime(const DateTime& time);
  void resetCurrentTime() { currentTime = *start; }
  std::string printEventList(std::list<Binding*>& bindings);

  // Measure updates, sampling points and start-up of the transitions.
  void updateAllMeasures(Binding* binding, bool accumulate, bool samplingPoint);
  bool updateSamplingPoints(bool batch);
  void initMeasureList(bool first);
  void initTransitions();

  // Importance splitting. The loop reports false when it stops at the model-time or run-time
  // limit.
  bool run_restart_iterative(int repeats, double thrmin, double thrmax, int thrnumber);
  // The threshold level of an importance value: 0 below thrmin, thrmin itself 1, one more every
  // (thrmax - thrmin) / (thrnumber + 1), never above the level of thrmax.
  static int level(double thrmin, double thrmax, double value, int thrnumber);
  void save_simulation_state(int level);
  void load_last_simulation_state();
  void delete_last_simulation_state();

  static Simulation* sim;

 protected:
  void send(const std::string& text, bool measureLine);
  void reportValue(DefaultGM* element, double value, const char* kind, const char* notInitialized,
                   bool measureLine);
  void logFiring(const Binding* binding);
  // The run-time limit counts from here, on a clock no change of the wall clock moves: from init(),
  // so that waiting for the result server counts too, or else from the start of the run.
  void startRunClock();
  bool timeLimitReached() const;
  // Asked at every event: true after an interrupt, or once the run-time limit has passed, the
  // clock being read only every EVENTS_PER_CLOCK_READING events.
  bool mustEnd();
  // False, after the closing line saying so, when the confidence has no quantile.
  bool analysisPossible() const;
  void rebuildNet();
  // The measure RESTART splits on; the other runs leave it out of their estimates.
  static bool isImportance(const MeasureObj* measure);
  // The candidates of one step, the list emptied first. With `all`, or with placeholders to pass
  // over, the walk below; otherwise the net's event queue, which finds what the walk would.
  // Virtual, so that a run can be replayed with the walk alone and the two compared.
  virtual void collectCandidates(std::list<Binding*>& candidates, bool all,
                                 const std::set<const Transition*>* passedOver);
  // The walk over every transition in name order: with `all` every first event; otherwise the
  // first events of the earliest time and, at that time, of the highest priority, starting from
  // DateTime::MAX and priority 0. A time-guard placeholder of a transition in `passedOver` is
  // passed over.
  void scanTransitions(std::list<Binding*>& candidates, bool all,
                       const std::set<const Transition*>* passedOver);

  int nofsampling;
  int loop = 0;
  int analysisState = ANALYSIS_NONE;
  std::chrono::steady_clock::time_point runStart;
  bool runClockStarted = false;
  std::time_t lastProgressPrint = 0;
  double alpha = 0.0;
  bool numericTime;
  bool percentRule;
  bool noStop = false;
  bool resetMeasures = false;
  bool noLimit = false;
  unsigned int secmax;
  int mode;
  double restartTime = 0.0;
  double epsMax;
  double interval;
  NetClass* net;
  std::string netname;
  std::string resport;
  DateTime currentTime;
  DateTime nextSampling;
  DateTime eventTime;
  const DateTime* start;
  DateTime stop;
  std::string lastChosen;
  bool initialized = false;
  socket_t* measureSocket = nullptr;
  RandomWrapper random;
  std::vector<SimSavedState> savedStates;
  MeasureObj* importance = nullptr;
  double weight = 1.0;
  bool failed = false;

 private:
  // Writes text to the result socket. A connection that fails, whether its peer went, broke the
  // stream or took no lines for too long, is reported once and given up: the run goes on without
  // it.
  void deliver(std::string_view text);
  // Why the waits for the result peer end now ("interrupted", "run-time limit reached"), or null
  // while they may go on.
  const char* resultWaitEnd() const;
  // The rest of a step whose candidates hold a time-guard placeholder.
  void convertPlaceholders(std::list<Binding*>& candidates, bool all);
  void appendCandidate(std::list<Binding*>& list, Binding* binding);
  void recycleCandidates(std::list<Binding*>& list);
  void startSampling();
  bool samplingPointsLeft() const;
  // The point at the stop time, which closes a replication's precision test.
  bool atLastSamplingPoint() const { return samplingIndex >= nofsampling - 1; }
  void advanceSampling();
  void takeSamplingPoint(bool& done);
  void sampleAt(Binding& sentinel, bool samplingPoint, bool& done);
  void splitPath(int newLevel, int repeats);
  void fallBelow(int& newLevel);

  int eventsToClockReading = 0;       // mustEnd reads the clock when this comes down to 0
  int samplingIndex = 0;              // index of nextSampling among the transient sampling points
  std::list<Binding*> spareNodes;     // list nodes recycled between candidate searches
  double restartSampleBase = 0.0;     // restartTime at the previous RESTART sampling point
  bool resultPeerUp = false;          // the result socket connected and has not failed since
  int retrialsPending = 0;            // saved states with retrials left; 0 on the main path
};
