#include <arpa/inet.h>

#include <thread>

#include "engine/EngineHarness.h"
#include "frontend/TokenGame.h"
#include "sockets/win_socket.h"
#include "support/Forked.h"
#include "support/LoopbackListener.h"
#include "support/PrivateNetwork.h"

using namespace enginetest;
using namespace std::chrono_literals;
using std::this_thread::sleep_for;

namespace {

// p's token goes to q after 1.5 s (T1) and back after 0.4 ms (T2); T3 cycles r's token every 3 s.
// All share priority 1, so steps choose by weight, and T2's weight 0 leaves every step to T3.
void play(TestNet& n) {
  for (const char* place : {"p", "q", "r"}) n.place(place, place[0]);
  step(n, "p", "T1", 1, det(1.5, 1), "q"), step(n, "q", "T2", 2, det(0.0004, 1, 0.0), "p");
  step(n, "r", "T3", 3, det(3.0, 1), "r"), n.tokens("p", 1), n.tokens("r", 1);
  measure(n, "inQ", "q", false);
}

// The game in a child process, so that one that dies or hangs cannot take the tests with it. The
// game is gone, and its result socket closed, before the process ends. Its standard output and
// error go to the file `console` when one is named.
Forked game(const std::string& resport = "NULL", const char* console = nullptr,
            const DateTime& from = kOrigin) {
  return Forked([resport, console, from] {
    if (console) std::freopen(console, "w", stdout), dup2(fileno(stdout), STDERR_FILENO);
    TestNet net(play);
    net.buildNet();
    TokenGame game(&net, "net", resport, from);
    return game.run(), game.shutdown(), game.hasFailed() ? 1 : 0;
  });
}

// The front end on port 2020, or another connection; a '|' in a command cuts it into two writes
// 200 ms apart, and an answer of the given size is awaited at most `seconds`.
struct Gui {
  explicit Gui(socket_t* connected = nullptr) : s(connected) {
    for (int i = 0; i < 1000 && !(s && s->is_ok()); ++i, sleep_for(10ms))
      s.reset(socket_t::connect("127.0.0.1:2020", socket_t::sock_global_domain, 1, 0));
  }
  std::string ask(const std::string& command, size_t size, time_t seconds = 10) {
    const size_t cut = std::min(command.find('|'), command.size());
    s->write(command.data(), cut);
    if (cut < command.size())
      sleep_for(200ms), s->write(&command[cut + 1], command.size() - cut - 1);
    std::string answer(std::max<size_t>(size, 256), '\0');
    const int got = size == 0 ? 0 : s->read(answer.data(), size, answer.size(), seconds);
    return answer.substr(0, static_cast<size_t>(std::max(got, 0)));
  }
  std::unique_ptr<socket_t> s;
};

TEST(TokenGame, EveryCommandIsAnsweredByteForByteAndTheResultSocketGetsItsLines) {
  if (const std::string why = port2020Unusable(); !why.empty()) GTEST_SKIP() << why;
  LoopbackListener results;  // the result socket's peer
  Forked peer = game(results.address);
  Gui gui;
  const std::string changed = "PLACES:q;p#TRANSITIONS:T1;T3#BREAKPOINTS:5#\n";
  const std::string t0 = "00:00:00@01/01/0001\n";
  // clang-format off
  const std::pair<std::string, std::string> dialogue[] = {
      {"FIRE:T2#", "PLACES:#TRANSITIONS:T1;T3#BREAKPOINTS:#\n"},  // nothing chosen, nothing fired
      {"FIRELIST#", "T1;T3\n"}, {"AUTOTRANS#", "TRANSITION:T1#DELAY:1500#\n"},
      // Commands that share a read, or a command cut anywhere, are answered one by one.
      {"TIME#TIME#", t0 + t0}, {"PLACE:p#TIME#", "0\n" + t0}, {"TI|ME#TIME#", t0 + t0},
      {"PLACE:p#REPLI", "0\n"}, {"CAT|ION#", "0"}, {"fire:T1#|REPLICATION#", "0"},  // no answer
      {"FIRE:T1#", "PLACES:p;q#TRANSITIONS:T2;T3#BREAKPOINTS:#\n"},
      {"AUTOTRANS#", "TRANSITION:T2#DELAY:0#\n"},
      // inQ is 1: equal within 1e-8 only, and ">=" but not ">"; the rest never trigger.
      {"SETBREAKS:inQ:=:1.000000005;inQ:=:1.00000002;inQ:>=:1;inQ:>:1;bad;inQ:<:1;no:>:0;inQ:=>:0#",
       "0;2\n"},
      // Steps fire T3 at 3, 6 and 9 s, later than T2's event at 1.5004 s.
      {"SINGLESTEP#", "Fired: T3#\n"}, {"FIRELIST#", "T2\nT3\n\nFired: T3#\n"},
      {"PLACE:q#", "0\nFired: T3#\n"}, {"EXIT#", "Thanx!\n"}, {"AUTOFIRE#", changed},
      {"TIME#", "00:00:09@01/01/0001\n"},  // T2's overdue event fired at 9 s, not back at 1.5 s
      {"NET#", "Places:\n\tp -> p\n\tq -> q\n\tr -> r\nTransitions:\n\tT1 -> T1\n\tT2 -> T2\n\tT3 -> T3\n\n"},
      {"BREAKS#", "5\n"}, {"FIRELISTX#", "T1;T3\n"}, {"FIRE:nowhere#", changed}, {"FIRE#", changed},
      {"PLACE#", "\n"}, {"SETBREAKS#", "\n"}, {"PLACE:p#FIRELIST#", "0\nT1;T3\n"}, {"EXIT#", ""}};
  // clang-format on
  for (const auto& [command, answer] : dialogue)
    EXPECT_EQ(gui.ask(command, answer.size()), answer) << command;
  EXPECT_EQ(peer.wait(), 0);
  const std::string lines = "NETNAME;net\nXTICKFORMAT;3\nTIME;86400\nSTARTTIME;86400\nEXIT;0\n";
  EXPECT_EQ(Gui(new win_socket(accept(results.fd, nullptr, nullptr))).ask("", lines.size()), lines);
}

// The front end's control bytes are echoed escaped, so it can neither clear the screen nor forge a
// line; a game far from the origin sends its start in the seconds of its TIME line.
TEST(TokenGame, EchoesTheFrontEndsControlBytesEscapedAndSendsItsStartInFullSeconds) {
  if (const std::string why = port2020Unusable(); !why.empty()) GTEST_SKIP() << why;
  LoopbackListener results;
  const std::string console = testing::TempDir() + "tokengame-console." + std::to_string(getpid());
  Forked peer = game(results.address, console.c_str(), DateTime("00:00:10@01/01/2000"));
  Gui gui;
  EXPECT_EQ(gui.ask("PLACE:\x1b[2J\rSIMULATION SUCCESSFUL\n\x9b#", 1), "\n");
  gui.ask("EXIT#", 0);
  EXPECT_EQ(peer.wait(), 0);
  const std::string out = readFile(console), name = "\\x1b[2J\\x0dSIMULATION SUCCESSFUL\\x0a\\x9b";
  std::remove(console.c_str());
  const std::string echo = "received: <PLACE:" + name + ">\nCouldn't find Place: " + name + "\n";
  EXPECT_NE(out.find(echo), std::string::npos) << out;
  EXPECT_EQ(out.find_first_of("\x1b\r\x9b"), std::string::npos) << out;
  const std::string lines =
      "NETNAME;net\nXTICKFORMAT;3\nTIME;63082540810\nSTARTTIME;63082540810\nEXIT;0\n";
  EXPECT_EQ(Gui(new win_socket(accept(results.fd, nullptr, nullptr))).ask("", lines.size()), lines);
}

TEST(TokenGame, AnswersAHundredThousandCommandsInOneWriteAndOutlivesAFrontEndGoneMidStep) {
  if (const std::string why = port2020Unusable(); !why.empty()) GTEST_SKIP() << why;
  Forked flooded = game("NULL", "/dev/null");
  Gui gui;
  std::string commands, answers;
  for (int i = 0; i < 100000; ++i) commands += "TIME#", answers += "00:00:00@01/01/0001\n";
  // The answers come back while the commands still go out, so neither side may wait for the other.
  std::thread flood([&] { gui.s->write(commands.data(), commands.size()); });
  EXPECT_EQ(gui.ask("", answers.size(), 60), answers);
  flood.join();
  gui.ask(std::string(4096, 'x'), 0);  // a message's worth of bytes without a '#' ends the game
  EXPECT_EQ(flooded.wait(), 1);
  // No front end sends a command longer than the game reads: the game ends, says so and fails.
  const std::string console = testing::TempDir() + "tokengame-overlong." + std::to_string(getpid());
  Forked overlong = game("NULL", console.c_str());
  Gui().ask(std::string(20000, 'x'), 0);
  EXPECT_EQ(overlong.wait(), 1);
  const std::string out = readFile(console);
  std::remove(console.c_str());
  EXPECT_NE(out.find("\nA command from the front end ran past 4096 bytes without its closing '#': "
                     "the token game ends.\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("COMPLETE"), std::string::npos) << out;
  Forked left = game();
  EXPECT_EQ(Gui().ask("SINGLESTEP#", 7).substr(0, 7), "Fired: ");
  EXPECT_EQ(left.wait(), 0);  // not killed by a write to the closed connection
}

}  // namespace
