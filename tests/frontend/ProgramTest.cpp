#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <regex>

#include "engine/Simulation.h"
#include "frontend/Server.h"
#include "sockets/local_win_socket.h"
#include "sockets/socket_t.h"
#include "support/PrivateNetwork.h"
#include "support/Forked.h"
#include "support/LoopbackListener.h"

namespace {

namespace fs = std::filesystem;

// The program run in a fresh folder holding marking.xml and a folder "logs", with no ODBC data
// source (no database is reached) and ended after 120 s; `run` gives its exit status. Standard
// error goes with standard output to "out", or to "err" when kept `apart`.
struct Program {
  bool apart = false;
  fs::path folder = fs::temp_directory_path() / ("vudi-run." + std::to_string(getpid()));
  Program() {
    fs::remove_all(folder), fs::create_directories(folder / "logs");
    fs::copy_file(fs::path(VUDI_SOURCE_DIR) / "marking.xml", folder / "marking.xml");
  }
  ~Program() { fs::remove_all(folder); }
  // Run in `where` within the folder; the output goes to the folder's "out" all the same.
  std::string line(const std::string& args, const char* runner = "timeout 120",
                   const std::string& where = ".") const {
    return "cd '" + (folder / where).string() + "' && ODBCSYSINI=. ODBCINI=none " + runner + " '" +
           VUDI_BINARY + "' " + args + " >'" + (folder / "out").string() + "' 2>" +
           (apart ? "'" + (folder / "err").string() + "'" : "&1");
  }
  int run(const std::string& args, const char* runner = "timeout 120") {
    const int s = std::system(line(args, runner).c_str());
    return WIFEXITED(s) ? WEXITSTATUS(s) : -1;
  }
  // Shell commands run in the folder, where VUDI stands for the program as `line` starts it.
  static constexpr const char* VUDI = "ODBCSYSINI=. ODBCINI=none '" VUDI_BINARY "'";
  int shell(const std::string& commands) const {
    const int s = std::system(("cd '" + folder.string() + "' && " + commands).c_str());
    return WIFEXITED(s) ? WEXITSTATUS(s) : -1;
  }
  std::string file(const char* name = "out") const {
    std::ifstream in(folder / name);
    return std::string(std::istreambuf_iterator<char>(in), {}) + "<end>";
  }
};

// The texts between the '|' of `texts` must appear in `output` in this order; one that begins with
// '!' must not appear after the text before it.
void expectInOrder(const std::string& output, const std::string& texts) {
  size_t at = 0, end = 0;
  for (size_t from = 0, to = 0; to != std::string::npos; from = to + 1) {
    const std::string text = texts.substr(from, (to = texts.find('|', from)) - from);
    if (text.starts_with('!')) {
      EXPECT_EQ(output.find(text.substr(1), end), std::string::npos) << text << " in:\n" << output;
      continue;
    }
    ASSERT_NE(at = output.find(text, at), std::string::npos) << text << " in:\n" << output;
    end = at + text.size();
  }
}

// Arguments, exit status, the texts of standard output and error, the texts of results.log, the
// marking.xml to run with instead of the shipped one.
struct Case { std::string args; int status; std::string texts, results = "", marking = ""; };
const std::string SPAN = " --mstart 0 --mstop 5", TIME = "--start 00:00:10@01/01/2000 --stop ";
// clang-format off
const Case cases[] = {
    {"--help", 0, "netname: vudi\n|--restart_simulation|DEVA Simulation"},
    {"--version", 0, "vudi  version: " VUDI_VERSION "\n"},
    {"--help", 0, "--thrnumber <integer>=0>|--thrmax <double > thrmin>|--thrmin <double>|--secmax <integer>=0 (0: no limit)>|"
     "--epsmax <double > 0.0>|--mstop <Value > start (-T), >= start (-S)>|--resport <NULL, host:port or a same-host name>"},
    {"-T -S" + SPAN, 1, "Mutually exclusive argument already set!"},
    {SPAN, 1, "Required arguments missing"},
    {"-p --lcount 2 --seed 1234567", 1, "number 1 to 3480189302\nSetting individual seed number 2 to 1734986802\n|Missing argument firecount."},
    {"-p --fcount 10 --seed 4294967295", 1, "number 5 to 1817724279\n|Missing argument loopcount."},
    {"-p --fcount -5 --lcount 2", 1, "Fire count must be > 0."},
    {"-p --fcount 10 --lcount 0", 1, "Loop count must be > 0."},
    {"-t --stop x --secmax 3", 1, "Missing argument starttime."},
    {"-T --start 25:00 --mstop 5", 1, "Format of start time invalid."},
    {"-T --mstart -1 --mstop 5", 1, "Start time < 0.0"},
    {"-S --mstart 0", 1, "Missing argument stop."},
    {"-S --mstart 0 --stop x", 1, "Format of stoptime invalid."},
    {"-S --mstart 10 --mstop 9", 1, "Stop time < Start time."},
    {"-S " + TIME + "00:00:09@01/01/2000", 1, "Stop time < Start time."},
    {"-T --start 00:00:00@02/30/2024 --mstop 5", 1, "Format of start time invalid."},  // no such day
    {"-S --mstart 0 --stop 00:00:60@01/01/2000", 1, "Format of stoptime invalid."},
    // The engine's time of no event: a run there would fire nothing and report success.
    {"-T --mstart 315538070400 --mstop 315538070600 --nofsampling 11", 1,
     "Start time must be before the calendar's end, 00:00:00@12/31/9999 (315538070400 s).\n"},
    {"-S --mstart 315538070399 --mstop 315538070400", 1, "Stop time must be before the calendar's end"},
    {"-S --mstart 1e300 --mstop 1e301", 1, "Start time must be before the calendar's end"},
    // Dates run to the calendar's end, and rows that far out still tell their times apart.
    {"-T --start 00:00:00@01/01/2100 --stop 00:03:20@01/01/2100 --nofsampling 3 --seed 4", 0, "SUCCESSFUL",
     "\t6.62383008e+10\t|\t6.62383009e+10\t|\t6.62383010e+10\t"},
    {"-T --start 00:00:00@01/01/9998 --stop 00:03:20@01/01/9998 --nofsampling 3 --seed 4", 0, "SUCCESSFUL",
     "\t3.154750848e+11\t|\t3.154750849e+11\t|\t3.154750850e+11\t"},
    {"-T --start 00:00:00@02/30/2100 --mstop 5", 1, "Format of start time invalid."},
    // The calendar's first day is the one the runs from 0 s print; the day before it is none.
    {"-T --start 00:00:00@12/30/0000 --mstop 5", 1,
     "Start time lies before the calendar's start, 00:00:00@12/31/0000 (0 s).\n"},
    {"-S --mstart 0 --stop 23:59:59@01/01/0000", 1, "Stop time lies before the calendar's start"},
    // An empty value is as unreadable as any other, not an absent option.
    {"-T --seed ''" + SPAN, 1, "(--seed)|Couldn't read argument value from string ''"},
    {"-T --epsmax ''" + SPAN, 1, "(--epsmax)|string ''"},
    {"-T --percentage ''" + SPAN, 1, "(--percentage)|string ''"},
    {"-T --resport ''" + SPAN, 1, "(--resport)|string ''"},
    {"-S -l --logdir marking.xml" + SPAN, 1, "Log folder marking.xml is not a folder."},
    {"-T --mstart 10 --mstop 10", 1, "Stop time <= Start time."},
    // A stationary run may stop where it starts, in either form: it then has no stop time (this
    // model's stationary runs analyse nothing and end at once).
    {"-S --mstart 0 --mstop 0", 0, "NO MEASURE COULD BE ANALYSED", "SIMULATION TIME: 0\n\n<end>"},
    {"-S " + TIME + "00:00:10@01/01/2000", 0, "NO MEASURE COULD BE ANALYSED", "SIMULATION TIME: 6.31e+10\n\n<end>"},
    {"--help", 0, "--percentage <true or 1 (on), false or 0 (off)>|--seed <integer from 0 to 4294967295>"},
    {"-S --confidence 79.9" + SPAN, 1, "Confidence interval must be from 80.0 to 99.8."},
    {"-T --confidence 99.8" + SPAN, 0, "SUCCESSFUL"},
    {"-T --epsmax 0" + SPAN, 1, "Max. relative fault must be > 0.0."},
    {"-T --nofsampling 0" + SPAN, 1, "Number of sampling points must be from 1 to 1000000."},
    {"-T --nofsampling 1000001" + SPAN, 1, "Number of sampling points must be from 1 to 1000000."},
    {"-T --percentage yes" + SPAN, 1, "(--percentage)|string 'yes'"},
    {"-T --percentage false --inittrans 1" + SPAN, 0, "SUCCESSFUL"},
    {"-T --seed 1" + SPAN, 0, "\nUnknown place 'Nowhere' in marking.xml: 1 token left out.\nUnknown place "
     "'Poool' in marking.xml: 2 tokens left out.\n... try to connect|!Unknown|SUCCESSFUL", "", "<m><token place='Poool'/>"
     "<token place='Execution_thread_pool'/><token place='Nowhere'/><token place='Poool'/></m>"},
    {"-T --seed 1" + SPAN, 0, "\nPlace 'Canny_in_1' in marking.xml takes no integer tokens: 2 tokens left out.\n|"
     "!in marking.xml|SUCCESSFUL", "", "<m><token place='Canny_in_1'/><token place='Canny_in_1'/></m>"},
    {"-T --seed -1" + SPAN, 1, "(--seed)|string '-1'"},
    {"-S -l" + SPAN, 1, "Log folder Log does not exist."},
    {"-R --mstart 10 --mstop 9 --repeats 2 --thrmax 4", 1, "RESTART simulation starts.|Error: no Importance Function"},
    {"-T " + TIME + "00:00:10@01/01/2000", 1,  // refused before the net is built
     "Result port set to NULL\nStop time of simulation must be after the start time.\n<end>"},
    {"-p --fcount 1000 --lcount 2 --seed 0 -l --logdir logs", 0, "logging on (folder: logs)|number 5 to 849877705\nWas the seed accepted? true|"
     "Running in profiling mode 1000*2|firing 2 * 1000 times\n0. loop in 00:00:00@12/31/0000\n1000 firings in 0.|"
     " seconds, |firings per second\n1. loop in |Global fire count: 2000\n"},
    {"-T --mstart 0 --mstop 200 --nofsampling 3 --seed 4194304 --epsmax 10", 0,
     "MainClass::main() beginning...\nSimulation called with arguments\n|--epsmax 10 \nstarting |\nnetname: vudi\n"
     "logging off\nRandom seed set to 4194304\n|number 3 to 1041654946\n|Running simulation from 00:00:00@12/31/0000 to "
     "00:03:20@12/31/0000 :: displayaddress=NULL|SUCCESSFUL\n0 OF 3 SAMPLING POINTS ABOVE THE ERROR BOUND, 50 "
     "REPLICATIONS\n\nRESULTS OF TRANSIENT|\ntotal simulation time: |"
     "\nTotal # tokens|\nMax # tokens|\nGlobal fire count: ", "Measure: Execution_thread_pool_in_use|\n\t0.0|\n\t1.0|\n\t2.0"},
    {"-T --mstart 0 --mstop 200 --nofsampling 11 --seed 3", 0,  // accepted with 4 of the 11 points imprecise
     "SIMULATION SUCCESSFUL\n4 OF 11 SAMPLING POINTS ABOVE THE ERROR BOUND (PER-CENT RULE), 4000 REPLICATIONS\n"},
    // The limit holds within a replication of 2024 years: it ends none, so no estimate stands.
    {"-T --mstart 0 --stop 00:01:40@01/01/2024 --nofsampling 11 --secmax 3", 0,
     "ABORT SIMULATION. REACHED MAXIMUM RUNNING TIME.\n0 REPLICATIONS\n\nRESULTS OF TRANSIENT", "Measure: "},
    {"-S --mstart 0 --mstop 1000", 0, "Ignoring Measure Execution_thread_pool_in_use\n\n"
     "NO MEASURE COULD BE ANALYSED: THE NET HAS NO TIME-AVERAGED MEASURE.\n\nRESULTS",
     "RESULTS OF STATIONARY SIMULATION\nSIMULATION TIME: 1e+03\n\n<end>"}};
// clang-format on

TEST(Program, AnswersEachCommandLineWithItsStatusAndTextsAndNamesTheNetAfterItself) {
  for (const Case& c : cases) {
    Program program;
    if (!c.marking.empty()) std::ofstream(program.folder / "marking.xml") << c.marking;
    EXPECT_EQ(program.run(c.args), c.status) << c.args;
    expectInOrder(program.file(), c.texts);
    if (!c.results.empty()) expectInOrder(program.file("results.log"), c.results);
  }
  // The net is named after the program: the last part of a path without its extension.
  for (auto [path, name] : {std::pair<const char*, const char*>{"D:\\sim\\pool.exe", "pool"},
                            {"./bin/pool", "pool"}, {"pool.exe", "pool.exe"},
                            {"D:\\sim\\a.b\\pool", "pool"}, {nullptr, ""}})
    EXPECT_EQ(Server::netName(path), name);
}

// Plays the token game with `args` as a front end would: sends `message`, reads an answer as long
// as `expected` and ends the game; returns the program's exit status.
int play(Program& program, const std::string& args, const std::string& message,
         const std::string& expected) {
  auto game = std::async(std::launch::async, [&] { return program.run(args); });
  std::unique_ptr<socket_t> gui(
      socket_t::connect("127.0.0.1:2020", socket_t::sock_global_domain, 20, 1));
  std::string answer(expected.size(), '\0');
  EXPECT_TRUE(gui && gui->write(message.data(), message.size()) &&
              gui->read(answer.data(), answer.size(), answer.size(), 10) == int(answer.size()) &&
              gui->write("EXIT#", 5));
  EXPECT_EQ(answer, expected);
  return game.get();
}

TEST(Program, AFirstInterruptEndsTheRunWithTheRowsOfItsReplicationsASecondOneTheProcess) {
  Program program;
  const std::string args =
      "-T --mstart 0 --mstop 200 --nofsampling 11 --percentage 0 --epsmax 1e-6 -l --logdir logs";
  Forked run([&] {  // never precise: it runs until interrupted
    signal(SIGINT, SIG_DFL);  // as from a terminal, whatever the test runner ignores
    return execl("/bin/sh", "sh", "-c", program.line(args, "exec").c_str(), nullptr);
  });
  // Every replication starts the transitions anew: after ten starts estimates stand.
  const auto starts = [&] {
    const std::string log = program.file("logs/sim.log");
    size_t n = 0;
    for (size_t at = 0; (at = log.find("starting init()", at)) != std::string::npos; ++at) ++n;
    return n;
  };
  for (int ms = 0; ms < 60000 && starts() < 10; ms += 10) usleep(10000);
  kill(run.pid, SIGINT);
  EXPECT_EQ(run.wait(), 0);
  expectInOrder(program.file(),
                "ABORT SIMULATION. INTERRUPTED.\n|OF 11 SAMPLING POINTS| REPLICATIONS\n\nRESULTS");
  expectInOrder(program.file("results.log"), "\t0.000000e+00\t|\t2.000000e+02\t");

  // The first only sets the flag, as does one that comes with it (timeout(1) signals the program
  // and then its group); one that comes a second later ends the process. Before a run takes them,
  // the first ends it.
  for (int apart : {-1, 0, 1100, -2}) {
    Forked child([apart] {
      signal(SIGINT, SIG_DFL), signal(SIGTERM, SIG_DFL), Server::handleSignals();
      if (apart != -2) Server::leaveRequestsToTheRun();
      raise(SIGINT);
      if (apart >= 0) usleep(apart * 1000), raise(SIGTERM);
      return Simulation::interruptRequested == 1 ? 0 : 1;
    });
    EXPECT_EQ(child.wait(), apart < 1000 && apart != -2 ? 0 : -1) << apart;
  }
  Program timed;
  EXPECT_EQ(timed.run(args, "timeout --preserve-status 2"), 0);
  expectInOrder(timed.file(), "ABORT SIMULATION. INTERRUPTED.\n|RESULTS");
  expectInOrder(timed.file("results.log"), "RESULTS OF TRANSIENT SIMULATION\n");
}

// An interrupt ends the program in every phase: before the run, where the program may be blocked
// (here the ODBC driver reads a FIFO as its configuration), at once, saying so and leaving the
// results of an earlier run as they were; a marking.xml that is no file is refused without waiting.
// A launcher that starts the program with the signals blocked does not make it deaf to them.
TEST(Program, AnInterruptEndsTheProgramInEveryPhaseAndHeedsSignalsItWasStartedWithBlocked) {
  const std::string args = "-T --mstart 0 --mstop 200 --nofsampling 11 --seed 7";
  for (const char* fifo : {"odbc.ini", "marking.xml"}) {
    Program program;
    program.apart = true;
    fs::remove(program.folder / fifo);
    ASSERT_EQ(mkfifo((program.folder / fifo).c_str(), 0600), 0);
    std::ofstream(program.folder / "results.log") << "EARLIER\n";
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_NE(program.run(args, "timeout -k 5 3"), 0) << fifo;
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(6)) << fifo;
    EXPECT_EQ(program.file("err"),
              fifo == std::string("odbc.ini")
                  ? "Interrupted before any results: the program ends, results.log is left as it "
                    "was.\n<end>"
                  : "marking.xml is not a regular file: a marking is read from regular files "
                    "only.\n<end>");
    EXPECT_EQ(program.file("results.log"), "EARLIER\n<end>");
  }
  Program program;
  Forked run([&] {
    sigset_t both;
    sigemptyset(&both), sigaddset(&both, SIGINT), sigaddset(&both, SIGTERM);
    sigprocmask(SIG_BLOCK, &both, nullptr);
    const std::string line = program.line(
        args + " --epsmax 0.00001 --percentage false", "timeout -k 5 --preserve-status 2");
    return execl("/bin/sh", "sh", "-c", line.c_str(), nullptr);
  });
  EXPECT_EQ(run.wait(), 0);
  expectInOrder(program.file(), "ABORT SIMULATION. INTERRUPTED.\n|RESULTS");
  expectInOrder(program.file("results.log"), "RESULTS OF TRANSIENT SIMULATION\n");
}

// Waiting for a result server counts against the run-time limit: one that is not there, over TCP
// or on this host, is given up when the limit is reached, and the run ends there with its results.
TEST(Program, ARunTimeLimitAlsoEndsTheWaitForAResultServerThatIsNotThere) {
  const LoopbackListener refusing(0, false);
  for (const std::string& at : {refusing.address, "nobody-" + std::to_string(getpid())}) {
    Program program;
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(program.run("-T --mstart 0 --mstop 200 --nofsampling 11 --secmax 3 --resport " + at,
                          "timeout 20"),
              0);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(10)) << at;
    expectInOrder(program.file(), "Sim::init Connection to server " + at +
                                      " failed: run-time limit reached while waiting for the "
                                      "peer\n|ABORT SIMULATION. REACHED MAXIMUM RUNNING TIME.");
    expectInOrder(program.file("results.log"), "RESULTS OF TRANSIENT SIMULATION\n");
  }
}

// Runs a script starts together draw seeds of their own, and print them to be repeated with.
TEST(Program, RunsStartedTogetherPrintSeedsOfTheirOwn) {
  Program program;
  ASSERT_EQ(program.shell("for i in 1 2 3 4; do " + std::string(Program::VUDI) +
                          " -p --fcount 1 --lcount 1 & done | grep '^Random seed' | sort -u | "
                          "wc -l >seeds"),
            0);
  EXPECT_EQ(program.file("seeds"), "4\n<end>");
}

// A same-host connection's ring, which the test reads as its server end; full when the program
// can write no more.
struct Ring : local_win_socket {
  static bool full(const socket_t& end) {
    const socket_buf& ring = *(static_cast<const local_win_socket&>(end).*(&Ring::RcvBuf));
    return (ring.DataEnd - ring.DataBeg + ring.size) % ring.size == ring.size - 1;
  }
};

// A result peer that takes no lines holds a run neither past its time limit nor past an
// interrupt: the connection is given up with one line saying why, and the run ends as it would
// and writes its results.
TEST(Program, AResultPeerThatTakesNoLinesHoldsTheRunNeitherPastItsLimitNorPastAnInterrupt) {
  const std::string args = "-T --mstart 0 --mstop 2000000 --nofsampling 1000 --resport ";
  const std::string deaf = "deaf-" + std::to_string(getpid());
  const std::unique_ptr<socket_t> listener(socket_t::create_local(deaf.c_str(), 1));
  for (const std::string why : {"run-time limit reached", "interrupted"}) {
    Program program;
    const bool interrupt = why == "interrupted";
    Forked run([&] {
      signal(SIGINT, SIG_DFL);
      const std::string line = program.line(args + deaf + (interrupt ? "" : " --secmax 2"), "exec");
      return execl("/bin/sh", "sh", "-c", line.c_str(), nullptr);
    });
    std::unique_ptr<socket_t> server;
    auto accepted = std::async(std::launch::async, [&] { server.reset(listener->accept()); });
    if (accepted.wait_for(std::chrono::seconds(30)) != std::future_status::ready)
      listener->cancel_accept();
    accepted.get();
    // So that the interrupt finds the program waiting to write.
    for (int ms = 0; server && ms < 30000 && !Ring::full(*server); ms += 10) usleep(10000);
    if (interrupt) kill(run.pid, SIGINT);
    EXPECT_EQ(run.wait(), 0);
    const std::string end = interrupt ? "INTERRUPTED." : "REACHED MAXIMUM RUNNING TIME.";
    expectInOrder(program.file(), "Result connection to " + deaf + " lost: " + why +
                                      " while waiting for the peer\n|ABORT SIMULATION. " + end);
    expectInOrder(program.file("results.log"), "RESULTS OF TRANSIENT SIMULATION\n");
  }
  // Over TCP, a listener that accepts nothing and soon has its small queue full (a program that
  // ignores the end of its time ignores SIGTERM too); then nobody at all, whose wait ends as well.
  const LoopbackListener tcp(4096);
  Program program;
  EXPECT_EQ(program.run(args + tcp.address + " --secmax 2", "timeout -k 5 60"), 0);
  expectInOrder(program.file(), "ABORT SIMULATION. REACHED MAXIMUM RUNNING TIME.\n|RESULTS");
  EXPECT_EQ(program.run(args + "nobody-" + std::to_string(getpid()),
                        "timeout --preserve-status -s INT 2"),
            0);
  expectInOrder(program.file(), "interrupted while waiting for the peer\n|INTERRUPTED");
}

// The README quotes the example's results.log as the program writes it.
TEST(Program, WritesTheResultsTheReadmeQuotes) {
  std::ifstream in(fs::path(VUDI_SOURCE_DIR) / "README.md");
  const std::string readme(std::istreambuf_iterator<char>(in), {}), fence = "```\n";
  const size_t from = readme.find(fence + "RESULTS OF TRANSIENT SIMULATION\n") + fence.size();
  ASSERT_GE(from, fence.size());
  Program program;
  EXPECT_EQ(program.run("-T --mstart 0 --mstop 200 --nofsampling 11 --seed 7"), 0);
  EXPECT_EQ(program.file("results.log"),
            readme.substr(from, readme.find(fence, from) - from) + "\n\n\n<end>");
  expectInOrder(program.file(),
                "SIMULATION SUCCESSFUL\n5 OF 11 SAMPLING POINTS ABOVE THE ERROR "
                "BOUND (PER-CENT RULE), 5000 REPLICATIONS\n");
  // The times it prints, given as dates, give the same rows.
  const std::string results = program.file("results.log");
  EXPECT_EQ(program.run("-T --start 00:00:00@12/31/0000 --stop 00:03:20@12/31/0000 "
                        "--nofsampling 11 --seed 7"),
            0);
  EXPECT_EQ(program.file("results.log"), results);
}


// A short transient run of the model with its logs gives the console lines, results.log, sim.log
// and trans.log recorded, by length and hash, from the build before its replications reset the net
// instead of building it anew; without the clock's dates and times and the line naming the path.
// A failure prints what a run gives, to be recorded anew when a change of the results is meant.
// (Recorded again once a run ended with the replication of its last estimate: shorter logs.)
TEST(Program, AShortTransientRunGivesTheRecordedOutput) {
  Program program;
  const std::string args = "-T --mstart 0 --mstop 120 --nofsampling 4 --epsmax 99 --seed 3";
  ASSERT_EQ(program.run(args + " -l --logdir logs"), 0);
  const std::regex clock("[0-9:]{8}@[0-9/]{6}2[0-9]{3}|.*(" + args +
                         "|starting simulation at|total simulation time).*\n");
  std::string fingerprints;
  for (const char* name : {"out", "results.log", "logs/sim.log", "logs/trans.log"}) {
    const std::string text = std::regex_replace(program.file(name), clock, "");
    std::uint64_t hash = 14695981039346656037u;  // 64-bit FNV-1a
    for (const unsigned char c : text) hash = (hash ^ c) * 1099511628211u;
    fingerprints += std::to_string(text.size()) + ":" + std::to_string(hash) + " ";
  }
  EXPECT_EQ(fingerprints, "1546:13000982329670290774 481:10055664428544386796 "
                         "324019:16403466463361470113 2290411:14685979411361396180 ");
}

// Runs `body` in a child process that sees a small file system of its own, `size` big, at the
// folder `at`; 77 where no private mount namespace may be had.
int onSmallFileSystem(const fs::path& at, const std::string& size,
                      const std::function<int()>& body) {
  Forked child([&] {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
        mount("tmpfs", at.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0)
      return 77;
    return body();
  });
  return child.wait();
}

// The files a run may have left beside results.log while it wrote it anew.
int partsLeft(const fs::path& folder) {
  int parts = 0;
  for (const auto& entry : fs::directory_iterator(folder))
    parts += entry.path().filename().string().starts_with(".results.log");
  return parts;
}

// results.log is put in place whole or not at all: whatever keeps it from being written, the
// console still shows the estimates, the previous file stays as it was, no part of the new one is
// left behind, and the run ends with status 1. A link planted under its name, or under a log's,
// is never written through.
TEST(Program, WritesResultsLogWholeOrFailsAndWritesThroughNoLink) {
  const std::string stationary = "-S --mstart 0 --mstop 1000";
  for (const std::string& args : {stationary, std::string("-p --fcount 10 --lcount 1")}) {
    Program program;
    fs::create_directory(program.folder / "results.log");
    EXPECT_EQ(program.run(args), 1) << args;
    expectInOrder(program.file(),
                  "\nRESULTS OF STATIONARY SIMULATION\nSIMULATION TIME: |"
                  "results.log could not be written: Is a directory\n");
    EXPECT_EQ(partsLeft(program.folder), 0);
  }

  Program program;
  std::ofstream(program.folder / "mine.txt") << "not results\n";
  fs::create_symlink(program.folder / "mine.txt", program.folder / "results.log");
  fs::create_symlink(program.folder / "mine.txt", program.folder / "logs" / "sim.log");
  EXPECT_EQ(program.run(stationary + " -l --logdir logs"), 1);  // the log asked for is not there
  expectInOrder(program.file(),
                "logs/sim.log is a symbolic link: a log is never written through one.\n");
  EXPECT_EQ(program.file("mine.txt"), "not results\n<end>");
  EXPECT_EQ(program.file("results.log"),
            "RESULTS OF STATIONARY SIMULATION\nSIMULATION TIME: 1e+03\n\n<end>");
  // A private results.log stays private when a run writes it anew.
  const auto mine = fs::perms::owner_read | fs::perms::owner_write;
  fs::permissions(program.folder / "results.log", mine);
  EXPECT_EQ(program.run(stationary), 0);
  EXPECT_EQ(fs::status(program.folder / "results.log").permissions(), mine);

  // A full file system: a small one of the test's own, where a private mount namespace may be had.
  const fs::path at = program.folder / "full";
  fs::create_directory(at);
  const int status = onSmallFileSystem(at, "64k", [&] {
    fs::copy_file(program.folder / "marking.xml", at / "marking.xml");
    std::ofstream(at / "results.log") << "RESULTS OF AN EARLIER RUN\n";
    std::ofstream(at / "filler") << std::string(1 << 20, 'x');  // as much as there is room for
    // Results of more than the one page the earlier results.log takes.
    const std::string args = "-T --mstart 0 --mstop 100 --nofsampling 100 --epsmax 99 --seed 3";
    const int ran = std::system(program.line(args, "timeout 120", "full").c_str());
    fs::copy_file(at / "results.log", program.folder / "kept.log");
    std::ofstream(program.folder / "left") << partsLeft(at);
    return WIFEXITED(ran) ? WEXITSTATUS(ran) : -1;
  });
  if (status == 77) GTEST_SKIP() << "no private mount namespace: the full file system is not tried";
  EXPECT_EQ(status, 1);
  expectInOrder(program.file(),
                "\nRESULTS OF TRANSIENT SIMULATION\n|\t1.000000e+02\t|"
                "results.log could not be written: No space left on device\n");
  EXPECT_EQ(program.file("kept.log"), "RESULTS OF AN EARLIER RUN\n<end>");
  EXPECT_EQ(program.file("left"), "0<end>");
}

// A console whose reader goes away neither kills a run nor costs its results: results.log is
// written whole, nothing is left beside it, and the status says the console failed.
TEST(Program, KeepsTheResultsOfARunWhoseConsoleWentAway) {
  Program program;
  ASSERT_EQ(program.shell("(timeout 120 env " + std::string(Program::VUDI) +
                          " -T --mstart 0 --mstop 200 --nofsampling 100000 --seed 7 --secmax 1 "
                          "2>err; echo $? >status) | head -30 >out"),
            0);
  EXPECT_EQ(program.file("status"), "1\n<end>");
  EXPECT_EQ(program.file("err"),
            "Standard output could not be written: the console lacks part of the run's "
            "output.\n<end>");
  expectInOrder(program.file("results.log"), "RESULTS OF TRANSIENT SIMULATION\n|\t2.000000e+02\t");
  EXPECT_EQ(partsLeft(program.folder), 0);
}

// A log that is no regular file is refused at once, as a link is. One that cannot be opened, or
// written during the run, is said once on standard error, and the run goes on, writes its results
// and fails.
TEST(Program, ALogThatIsNoFileOrFillsTheDiskNeitherHoldsTheRunNorGoesUnsaid) {
  const std::string args = "-T --mstart 0 --mstop 20 --nofsampling 2 --seed 7 -l --logdir logs";
  Program program;
  program.apart = true;
  ASSERT_EQ(mkfifo((program.folder / "logs" / "trans.log").c_str(), 0600), 0);
  EXPECT_EQ(program.run(args, "timeout 20"), 1);
  expectInOrder(program.file(), "logs/trans.log*********** trans: could not open!!\n|"
                                "!not a regular file|SIMULATION SUCCESSFUL");
  EXPECT_EQ(program.file("err"),
            "logs/trans.log is not a regular file: a log is never written to one.\n<end>");
  expectInOrder(program.file("results.log"), "RESULTS OF TRANSIENT SIMULATION\n");
  fs::remove(program.folder / "logs" / "trans.log");

  fs::remove_all(program.folder / "results.log");
  const int status =
      onSmallFileSystem(program.folder / "logs", "64k", [&] { return program.run(args); });
  if (status == 77) GTEST_SKIP() << "no private mount namespace: the full file system is not tried";
  EXPECT_EQ(status, 1);
  const std::string err = program.file("err"), full =
                                                   ".log could not be written: No space left on "
                                                   "device\n";
  EXPECT_TRUE(std::regex_match(err, std::regex("(logs/(sim|trans)\\" + full + ")+<end>"))) << err;
  for (const char* log : {"logs/sim", "logs/trans"})  // once a log
    EXPECT_EQ(err.find(log + full), err.rfind(log + full)) << err;
  expectInOrder(program.file(), "SIMULATION SUCCESSFUL");
  expectInOrder(program.file("results.log"), "RESULTS OF TRANSIENT SIMULATION\n");
}

// Runs that end in an error say why on standard error, and there alone.
TEST(Program, ARunThatEndsInAnErrorSaysWhyOnStandardError) {
  const std::pair<std::string, std::string> runs[] = {
      {"-R --mstart 0 --mstop 100 --repeats 2 --thrmax 4",
       "Error: no Importance Function ('ImportanceFunction') measure was defined!\n"},
      {"-T " + TIME + "00:00:10@01/01/2000",
       "Stop time of simulation must be after the start time.\n"}};
  for (const auto& [args, error] : runs) {
    Program program;
    program.apart = true;
    EXPECT_EQ(program.run(args), 1) << args;
    EXPECT_EQ(program.file("err"), error + "<end>");
    EXPECT_EQ(program.file().find(error), std::string::npos) << program.file();
  }
}

TEST(Program, PlaysTheTokenGameOnPort2020AndFailsWhenThePortIsTaken) {
  if (const std::string why = port2020Unusable(); !why.empty()) GTEST_SKIP() << why;
  Program program;
  program.apart = true;
  const std::string args = "-t " + TIME + "x";
  std::unique_ptr<socket_t> taken(socket_t::create_global("localhost:2020", 5));
  EXPECT_EQ(program.run(args), 1);
  EXPECT_EQ(program.file("err"),
            "Connection to server localhost:2020 failed. Socket is not okay! "
            "Address already in use\n<end>");
  taken.reset();
  EXPECT_EQ(play(program, args, "TIME#", "00:00:10@01/01/2000\n"), 0);
  expectInOrder(program.file(), "Running tokengame from 00:00:10@01/01/2000|COMPLETE");
}

// Leads the data source "vudi" of the program's folder, through the test server's driver, to the
// database `db` of the server `at` names in the driver's words (SOCKET=, or SERVER= and PORT=).
void useDatabase(const Program& program, const std::string& at, const std::string& db) {
  fs::copy_file(std::getenv("VUDI_TEST_DB_DIR") + std::string("/odbcinst.ini"),
                program.folder / "odbcinst.ini", fs::copy_options::overwrite_existing);
  std::ofstream(program.folder / "odbc.ini") << "[vudi]\nDriver=MariaDB\n"
                                             << at << "\nDATABASE=" << db << "\n";
}

// The stored marking of scripts/token-db-example.sql, loaded into a database of its own on the
// private server, reaches its places: the data source "vudi" of the program's folder leads there.
TEST(Program, PlacesTheFramesOfTheTokenDatabaseExample) {
  const char* server = std::getenv("VUDI_TEST_DB_DIR");
  if (!server) GTEST_SKIP() << "no test database: see scripts/test-db.sh";
  if (const std::string why = port2020Unusable(); !why.empty()) GTEST_SKIP() << why;
  Program program;
  const std::string dir = server, db = "program_test_" + std::to_string(getpid()),
                    sql = "mariadb --no-defaults -uraruzev -praruzev -S '" + dir + "/mysql.sock' ";
  ASSERT_EQ(std::system((sql + "-e 'CREATE DATABASE " + db + "'").c_str()), 0);
  EXPECT_EQ(
      std::system((sql + db + " <'" VUDI_SOURCE_DIR "/scripts/token-db-example.sql'").c_str()), 0);
  useDatabase(program, "SOCKET=" + dir + "/mysql.sock", db);
  EXPECT_EQ(play(program, "-t " + TIME + "x", "PLACE:Output_in_1#",
                 "{n=\"frame 0\"; s=320; l=240; gT=00:00:00@01/01/2024; d=1; ood=0; tL=2; gL=1}\n"),
            0);
  EXPECT_EQ(std::system((sql + "-e 'DROP DATABASE " + db + "'").c_str()), 0);
  expectInOrder(program.file(), "connection established!|3 tokens added to the net.");
}

// Names and values from the database are echoed with their control bytes escaped, and a stored
// place name holding a NUL byte names no place. A server that does not answer, at the login (a
// listener that accepts nothing) or in the token read (which sleeps there), fails the connection
// or the read, and the run goes on without the stored tokens.
TEST(Program, ATokenDatabaseWithOddNamesOrAHungServerNeverHoldsTheRunNorWritesOnTheConsole) {
  const char* server = std::getenv("VUDI_TEST_DB_DIR");
  if (!server) GTEST_SKIP() << "no test database: see scripts/test-db.sh";
  const std::string socket = server + std::string("/mysql.sock"),
                    odd = "odd_" + std::to_string(getpid()), slow = "slow_" + odd;
  const std::string tables =
      "CREATE TABLE 1_places (id int, name varchar(100)); CREATE TABLE 1_objects_data (id int, "
      "n varchar(100), s int, l int, gt datetime, d bit(1), ood bit(1), tl int, gl int); "
      "INSERT INTO 1_objects_data VALUES (1, CONCAT('a', CHAR(27), ']0;x', CHAR(7)), 1, 2, "
      "'2024-01-01 00:00:00', 1, 0, 3, 4); INSERT INTO 1_places VALUES (1, 'Canny_in_1'), "
      "(2, CONCAT('Canny_in_1', CHAR(0), CHAR(27), '[2J')); CREATE TABLE t (id int, object_id "
      "int, place_id int); INSERT INTO t VALUES (1, 1, 1), (2, 1, 2); "
      "CREATE VIEW 1_tokens_data AS SELECT * FROM t";
  const std::string sql = "mariadb --no-defaults -uraruzev -praruzev -S '" + socket + "' -e \"";
  ASSERT_EQ(std::system((sql + "CREATE DATABASE " + odd + "; USE " + odd + "; " + tables +
                         "; CREATE DATABASE " + slow + "; USE " + slow + "; " + tables +
                         " WHERE SLEEP(30) = 0\"")
                            .c_str()),
            0);
  Program program;
  const auto run = [&](const std::string& at, const std::string& db) {
    useDatabase(program, at, db);
    EXPECT_EQ(program.run("-T --seed 1" + SPAN), 0) << db;
    return program.file();
  };
  expectInOrder(run("SOCKET=" + socket, odd),
                "Couldn't find Place: Canny_in_1\\x00\\x1b[2J\nCould not find Place "
                "'Canny_in_1\\x00\\x1b[2J' for {n=\"a\\x1b]0;x\\x07\"; s=1;|"
                "1 tokens added to the net.|SIMULATION SUCCESSFUL");
  expectInOrder(run("SOCKET=" + socket, slow),
                "connection established!\n|Error in Select -1\n|Lost connection|"
                "0 tokens added to the net.|SIMULATION SUCCESSFUL");
  const LoopbackListener nobody;
  expectInOrder(run("SERVER=127.0.0.1\nPORT=" + nobody.port, odd),
                "Error SQLConnect -1\n|handshake|SIMULATION SUCCESSFUL");
  // An interrupt while the login waits ends the program at once: there are no results yet.
  std::ofstream(program.folder / "results.log") << "EARLIER\n";
  const auto begin = std::chrono::steady_clock::now();
  EXPECT_NE(program.run("-T --seed 1" + SPAN, "timeout 2"), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(4500));
  expectInOrder(program.file(), "trying to connect|Interrupted before any results|!Error");
  EXPECT_EQ(program.file("results.log"), "EARLIER\n<end>");
  EXPECT_EQ(std::system((sql + "DROP DATABASE " + odd + "; DROP DATABASE " + slow + "\"").c_str()),
            0);
}

}  // namespace
