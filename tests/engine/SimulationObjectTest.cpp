#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "frontend/MainClass.h"
#include "sockets/socket_t.h"
#include "support/TestNet.h"

using namespace testnet;
using Writes = std::vector<std::string>;

namespace {

// Keeps every write as one entry, so the grouping of lines into writes is visible.
class RecordingSocket : public socket_t {
 public:
  explicit RecordingSocket(Writes& writes) : writes(writes) {}
  bool write(const void* buf, size_t size) override {
    writes.emplace_back(static_cast<const char*>(buf), size);
    return true;
  }
  int read(void*, size_t, size_t, time_t) override { return -1; }
  bool read(void*, size_t) override { return false; }
  bool sendto(int, int, const void*, size_t) override { return false; }
  int recvfrom(int&, int&, void*, size_t) override { return -1; }
  bool is_ok() override { return true; }
  void get_error_text(char* buf, size_t size) override { snprintf(buf, size, "ok"); }
  socket_t* accept() override { return nullptr; }
  bool cancel_accept() override { return true; }
  bool shutdown() override { return true; }
  bool close() override { return true; }
  Writes& writes;
};

// Result socket "NULL" unless a record is given, which then stands in for the connection.
class TestSim : public Simulation {
 public:
  TestSim(NetClass* net, const DateTime& start, const DateTime& stop, int mode, bool numericTime,
          Writes* writes = nullptr)
      : Simulation(net, "video", "NULL", start, stop, 1, mode, numericTime, false, 0.05, 1.0, 0),
        writes(writes) {}
  void initMeasureSocket() override {
    if (writes == nullptr) return Simulation::initMeasureSocket();
    measureSocket = new RecordingSocket(*writes);
  }
  using Simulation::analysisState;
  using Simulation::currentTime;
  using Simulation::nextSampling;
  using Simulation::restartTime;
  Writes* writes;
};

class ReportedMeasure : public MeasureObj {
 public:
  ReportedMeasure(const char* name, bool watch, bool accumulative)
      : MeasureObj(name, nullptr, watch), summed(accumulative) {}
  void result(double mean, double halfWidth) {
    AveragedMean.push_back(mean);
    DeltaX.push_back(halfWidth);
  }
  double measure(double) override { return 0.0; }
  bool accumulative() override { return summed; }
  bool timeaverage() override { return !summed; }
  void accum(const Binding*, double) override {}
  bool summed;
};

const DateTime kStart;  // 86400 seconds

}  // namespace

TEST(SimulationObject, HeaderIsGroupedPerModeAndExitClosesTheStream) {
  TestNet net([](TestNet&) {});
  const DateTime stop(63000000000.25);
  Writes writes;
  { TestSim(&net, kStart, stop, 0, true, &writes).init(); }
  EXPECT_EQ(writes, (Writes{"NETNAME;video\nXTICKFORMAT;0\n", "STARTTIME;86400\n",
                            "ENDTIME;63000000000.25\n", "TIME;86400\n", "EXIT;0\n"}));
  for (int mode : {1, 2}) {
    writes.clear();
    { TestSim(&net, kStart, stop, mode, false, &writes).init(); }
    EXPECT_EQ(writes, (Writes{"NETNAME;video\nXTICKFORMAT;3\n", "TIME;86400\n", "EXIT;0\n"}));
  }
}

TEST(SimulationObject, EstimateLinesTakeTheTimeStampOfTheirMode) {
  TestNet net([](TestNet&) {});
  ReportedMeasure watched("load", true, false), unwatched("idle", false, false);
  ReportedMeasure summed("served", true, true), unanalysed("wait", true, false);
  watched.result(2.5, 0.5);
  unwatched.result(1.0, 0.1);
  summed.result(0.75, 0.25);
  DefaultGM place("queue", "Place", &net), transition("serve", "Transition", &net);
  for (int mode : {0, 1, 2}) {
    Writes writes;
    TestSim sim(&net, kStart, DateTime(90000.0), mode, true, &writes);
    sim.init();
    writes.clear();
    sim.nextSampling = DateTime(86410.0);
    sim.currentTime = DateTime(86420.0);
    sim.restartTime = 2.5;
    sim.measureOut(&watched, &watched);
    EXPECT_TRUE(writes.empty()) << "no estimate yet, mode " << mode;
    sim.analysisState = mode == 0 ? 1 : -1;  // the batch runs count up from -2
    for (ReportedMeasure* m : {&watched, &unwatched, &summed, &unanalysed}) sim.measureOut(m, m);
    sim.analysisState = 0;  // watched and display values do not wait for an estimate
    sim.measureOut(&place, 1.0 / 3.0);
    sim.displayOut(&transition, 2.5);
    const std::string time = mode == 0 ? "TIME;86410\n" : mode == 1 ? "TIME;86420\n" : "TIME;2.5\n";
    const std::string summedLine = "served<Result:Mean>,<-ConfMin>,<+ConfMax>;0.75,0.5,1\n";
    EXPECT_EQ(writes, (Writes{time + "load<Result:Mean>,<-ConfMin>,<+ConfMax>;2.5,2,3\n", time,
                              time + (mode == 0 ? summedLine : ""),
                              "TIME;86420\nqueue<Place>;0.3333333333333333\n",
                              "TIME;86420\nserve<Transition:Display>;2.5\n"}))
        << "mode " << mode;
  }
}

TEST(SimulationObject, ReportsWithoutASocketOrBeforeInitGoToTheSimLog) {
  char folder[] = "/tmp/simobjectXXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  Logging* log = MainClass::getLog();
  log->setLogFolder(folder);
  log->open();
  TestNet net([](TestNet& n) {
    n.place("queue", 1);
    n.transition("serve", 1, TestTransition::Options());
    n.linkPlaceToTransition("queue", "serve", 1);
    n.tokens("queue", 1);
  });
  net.buildNet();
  DefaultGM place("queue", "Place", &net), transition("serve", "Transition", &net);
  ReportedMeasure measure("load", true, false);
  measure.result(2.5, 0.5);
  {
    TestSim sim(&net, kStart, kStart, 1, true);
    sim.analysisState = 1;
    sim.measureOut(&place, 2.5);
    sim.displayOut(&transition, 1.0);
    sim.measureOut(&measure, &measure);
    testing::internal::CaptureStdout();
    sim.init();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(net.getSimulation(), &sim);
    EXPECT_NE(net.getTransition("serve")->getNextEvent(), nullptr);
    sim.measureOut(&place, 3.0);
    sim.displayOut(&transition, 0.5);
    sim.measureOut(&measure, &measure);
  }
  log->close();
  log->setLogFolder(".");
  std::stringstream text;
  text << std::ifstream(std::string(folder) + "/sim.log").rdbuf();
  EXPECT_EQ(text.str(),
            "meassureOut not initialized: 2.5\n"
            "displayOut not initialized: 1\n"
            "meassureOut not initialized for measure object: 2.5\n"
            "************** starting init()... *****************\n"
            "NO_SOCK: TIME;86400\nqueue<Place>;3\n\n"
            "NO_SOCK: TIME;86400\nserve<Transition:Display>;0.5\n"
            "NO_SOCK: TIME;86400\nload<Result:Mean>,<-ConfMin>,<+ConfMax>;2.5,2,3\n\n");
  std::filesystem::remove_all(folder);
}

TEST(SimulationObjectDeathTest, OnlyOneSimulationLivesAtATime) {
  TestNet net([](TestNet&) {});
  {
    TestSim first(&net, kStart, kStart, 1, true);
    EXPECT_DEATH(TestSim(&net, kStart, kStart, 1, true), "sim == NULL");
  }
  EXPECT_EQ(Simulation::sim, nullptr);
  TestSim again(&net, kStart, kStart, 1, true);
  EXPECT_EQ(Simulation::sim, &again);
}

TEST(SimulationObject, LoopbackPeerReceivesHeaderAndExit) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};  // port 0: any free port
  auto* named = reinterpret_cast<sockaddr*>(&address);
  socklen_t length = sizeof address;
  ASSERT_TRUE(listener >= 0 && bind(listener, named, length) == 0 && listen(listener, 1) == 0 &&
              getsockname(listener, named, &length) == 0);
  const std::string resport = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
  TestNet net([](TestNet&) {});
  int peer = -1;
  {
    Simulation sim(&net, "video", resport, kStart, kStart, 1, 1, true, false, 0.05, 1.0, 0);
    testing::internal::CaptureStdout();
    sim.init();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Try to connect to: " + resport + "\nconnection established..\n");
    peer = accept(listener, nullptr, nullptr);
    ASSERT_GE(peer, 0);
  }
  std::string received;
  char buffer[256];
  pollfd readable{peer, POLLIN, 0};
  for (ssize_t n; poll(&readable, 1, 5000) > 0 && (n = recv(peer, buffer, sizeof buffer, 0)) > 0;)
    received.append(buffer, static_cast<size_t>(n));
  EXPECT_EQ(received, "NETNAME;video\nXTICKFORMAT;0\nTIME;86400\nEXIT;0\n");
  close(peer);
  close(listener);
}
