#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>

#include "EngineHarness.h"
#include "frontend/MainClass.h"
#include "sockets/win_socket.h"
#include "support/Forked.h"

using namespace enginetest;
using Writes = std::vector<std::string>;

namespace {

// A packet connection stands in for the result socket: each write arrives as one packet, so the
// grouping of lines into writes is visible.
struct Recorder {
  int ends[2] = {-1, -1};
  Recorder() { EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends), 0); }
  ~Recorder() { close(ends[1]); }
  Writes taken() {
    Writes writes;
    char packet[512];
    for (ssize_t n; (n = recv(ends[1], packet, sizeof packet, MSG_DONTWAIT)) > 0;)
      writes.emplace_back(packet, static_cast<size_t>(n));
    return writes;
  }
};

const DateTime kStop(63000000000.25);  // kOrigin is 86400 seconds

// Numeric time in mode 0 only; the result socket is the recorder if one is given.
struct TestSim : Simulation {
  TestSim(NetClass* net, int mode, Recorder* recorder = nullptr, const char* resport = "NULL")
      : Simulation(net, "video", resport, kOrigin, kStop, 1, mode, mode == 0, false, 0.05, 1.0, 0),
        recorder(recorder) {}
  void initMeasureSocket() override {
    if (recorder == nullptr) return Simulation::initMeasureSocket();
    measureSocket = new win_socket(recorder->ends[0]);
  }
  using Simulation::analysisState, Simulation::currentTime, Simulation::nextSampling,
      Simulation::restartTime, Simulation::runStart, Simulation::secmax, Simulation::noLimit;
  Recorder* recorder;
};

// A measure with an estimate of mean +- halfWidth, or none yet.
struct ReportedMeasure : MeasureObj {
  ReportedMeasure(const char* name, bool watch, bool summed, std::list<double> estimate = {})
      : MeasureObj(name, nullptr, watch), summed(summed) {
    if (!estimate.empty()) AveragedMean = {estimate.front()}, DeltaX = {estimate.back()};
  }
  double measure(double) override { return 0.0; }
  bool accumulative() override { return summed; }
  bool timeaverage() override { return !summed; }
  void accum(const Binding*, double) override {}
  bool summed;
};

}  // namespace

TEST(SimulationObject, ResultLinesAreGroupedPerModeExitComesLastAndReachASameHostPeer) {
  TestNet net([](TestNet&) {});
  ReportedMeasure watched("load", true, false, {2.5, 0.5}), idle("idle", false, false, {1.0, 0.1});
  ReportedMeasure summed("served", true, true, {0.75, 0.25}), unanalysed("wait", true, false);
  DefaultGM place("queue", "Place", &net), transition("serve", "Transition", &net);
  for (int mode : {0, 1, 2}) {
    Recorder recorder;
    auto sim = std::make_unique<TestSim>(&net, mode, &recorder);
    sim->init();
    EXPECT_EQ(recorder.taken(),
              (mode == 0 ? Writes{"NETNAME;video\nXTICKFORMAT;0\n", "STARTTIME;86400\n",
                                  "ENDTIME;63000000000.25\n", "TIME;86400\n"}
                         : Writes{"NETNAME;video\nXTICKFORMAT;3\n", "TIME;86400\n"}));
    sim->nextSampling = DateTime(86410.0), sim->currentTime = DateTime(86420.0);
    sim->restartTime = 2.5, sim->measureOut(&watched, &watched);  // no estimate yet
    sim->analysisState = mode == 0 ? 1 : -1;  // the batch runs count up from -2
    for (ReportedMeasure* m : {&watched, &idle, &summed, &unanalysed}) sim->measureOut(m, m);
    sim->analysisState = 0;  // watched and display values do not wait for an estimate
    sim->measureOut(&place, 1.0 / 3.0), sim->displayOut(&transition, 2.5);
    const std::string time = mode == 0 ? "TIME;86410\n" : mode == 1 ? "TIME;86420\n" : "TIME;2.5\n";
    const std::string summedLine = "served<Result:Mean>,<-ConfMin>,<+ConfMax>;0.75,0.5,1\n";
    EXPECT_EQ(recorder.taken(), (Writes{time + "load<Result:Mean>,<-ConfMin>,<+ConfMax>;2.5,2,3\n",
                                        time, time + (mode == 0 ? summedLine : ""),
                                        "TIME;86420\nqueue<Place>;0.3333333333333333\n",
                                        "TIME;86420\nserve<Transition:Display>;2.5\n"}))
        << "mode " << mode;
    sim.reset();
    EXPECT_EQ(recorder.taken(), Writes{"EXIT;0\n"});
  }
  const std::string resport = "results-" + std::to_string(getpid());  // no ':': same host
  Forked peer([&] {
    std::unique_ptr<socket_t> listener(socket_t::create_local(resport.c_str(), 1));
    std::unique_ptr<socket_t> connection(listener->accept());
    std::string received;
    char piece[64];
    for (int n; connection && (n = connection->read(piece, 1, sizeof piece, 30)) > 0;)
      received.append(piece, n);
    return received == "NETNAME;video\nXTICKFORMAT;3\nTIME;86400\nEXIT;0\n" ? 0 : 1;
  });
  EXPECT_EQ(printed([&] { TestSim(&net, 1, nullptr, resport.c_str()).init(); }),
            "Try to connect to: " + resport + "\nconnection established..\n");
  EXPECT_EQ(peer.wait(), 0);
}

// Without a socket the reports go to the sim log: before init they are only noted; after it a
// watched transition gives its fire count, a watched place its marking once per arc.
TEST(SimulationObject, ReportsWithoutASocketGoToTheSimLog) {
  InOwnFolder folder;
  MainClass::getLog()->open();
  TestNet net([](TestNet& n) { n.place("S", 1, 5), step(n, "S", "T", 1, det(2.0), "S"); });
  net.buildNet(), net.tokens("S", 1);
  Place* s = net.getPlace("S");
  Transition* t = net.getTransition("T");
  s->setWatch(true), t->setWatch(true);
  ReportedMeasure measure("load", true, false, {2.5, 0.5});
  {
    TestSim sim(&net, 1);
    sim.analysisState = 1;
    for (double offset : {0.0, 5.0, 5.0}) sim.updateSimulationTime(kOrigin + offset);  // 1 change
    sim.measureOut(s, 2.5), sim.displayOut(t, 1.0), sim.measureOut(&measure, &measure);
    sim.init();
    Binding* first = t->getNextEvent();
    sim.updateSimulationTime(first->getTime()), sim.executeEvent(first);
  }
  MainClass::getLog()->close();
  const std::string report = "NO_SOCK: TIME;86407\n", place = report + "S<Place>;1\n\n";
  EXPECT_EQ(readFile("sim.log"),
            "measureOut not initialized, couldn't send Time: 00:00:05@01/01/0001\n"
            "meassureOut not initialized: 2.5\ndisplayOut not initialized: 1\n"
            "meassureOut not initialized for measure object: 2.5\n"
            "************** starting init()... *****************\n" +
                report + "T<Transition>;1\n\n" + place + place);
}

// A result peer that takes no lines, when the run is interrupted or at its time limit, or whose
// connection breaks, is given up with one line; a connect that finds no server says it waits.
TEST(SimulationObject, AResultPeerThatTakesNoLinesOrBreaksIsGivenUpOnceSayingWhy) {
  TestNet net([](TestNet&) {});
  DefaultGM transition("serve", "Transition", &net);
  const std::string resport = "stuck-" + std::to_string(getpid());
  std::unique_ptr<socket_t> listener(socket_t::create_local(resport.c_str(), 1));
  for (const std::string why : {"interrupted", "run-time limit reached", "connection is broken"}) {
    TestSim sim(&net, 1, nullptr, resport.c_str());
    auto accepted = std::async(std::launch::async, [&] { return listener->accept(); });
    printed([&] { sim.init(); });
    std::unique_ptr<socket_t> peer(accepted.get());
    ASSERT_TRUE(peer && sim.hasMeasureSocket());
    if (why == "connection is broken") peer->close();
    if (why == "interrupted") Simulation::interruptRequested = 1;
    if (why == "run-time limit reached")
      sim.secmax = 5, sim.noLimit = false, sim.runStart -= std::chrono::seconds(10);
    const std::string said = printed([&] {  // until the ring is full, then one more line
      for (int i = 0; i < 100000 && sim.hasMeasureSocket(); ++i) sim.displayOut(&transition, i);
    });
    Simulation::interruptRequested = 0;
    EXPECT_EQ(said, "Result connection to " + resport + " lost: " + why +
                        (why == "connection is broken" ? "\n" : " while waiting for the peer\n"));
    EXPECT_FALSE(sim.hasMeasureSocket());
  }

  const int held = socket(AF_INET, SOCK_STREAM, 0);  // bound, not listening: refuses connections
  sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof a;
  auto* named = reinterpret_cast<sockaddr*>(&a);
  ASSERT_EQ(bind(held, named, length) | getsockname(held, named, &length), 0);
  const std::string nobody = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
  Simulation::interruptRequested = 1;
  EXPECT_EQ(printed([&] { TestSim(&net, 1, nullptr, nobody.c_str()).init(); }),
            "Try to connect to: " + nobody + "\nNo result server at " + nobody +
                " yet: waiting up to 100 seconds for one.\nSim::init Connection to server " +
                nobody + " failed: interrupted while waiting for the peer\n");
  Simulation::interruptRequested = 0;
  close(held);
}
