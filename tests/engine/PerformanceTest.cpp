#include <regex>

#include "engine/EngineHarness.h"
#include "engine/Performance.h"

using namespace enginetest;

TEST(Profiling, LoopsGoOnWhereTheLastStoppedUntilTheNetRunsOutOfEventsOrAnInterruptComes) {
  TestNet net([](TestNet& n) { dying(n); });  // ten firings in all
  net.buildNet();
  const Counter before = Transition::globalFireCount;
  // Four, four, two, then none.
  const std::string out = printed([&] { Performance(&net, "net", "NULL", kOrigin, 4, 4).run(); });
  EXPECT_EQ(Transition::globalFireCount - before, 10u);
  const std::regex loops(R"(firing 4 \* 4 times\n(\d\. loop in \d\d:\d\d:\d\d@\d\d/\d\d/\d{4}\n)"
                         R"(\d firings in \d+\.\d{3} seconds, \d+ firings per second\n){4})");
  EXPECT_TRUE(std::regex_match(out, loops)) << out;
  EXPECT_NE(out.find("\n2. loop in 00:00:00@12/31/0000\n2 firings in "), std::string::npos);
  Simulation::interruptRequested = 1;  // as a SIGINT does: no loop, and a line that says so
  EXPECT_EQ(printed([&] { Performance(&net, "net", "NULL", kOrigin, 4, 4).run(); }),
            "firing 4 * 4 times\n\nABORT SIMULATION. INTERRUPTED.");
  Simulation::interruptRequested = 0;
}
