#include <gtest/gtest.h>

#include <memory>

#include "support/TestNet.h"

using namespace testnet;

namespace {

// A marking measure of P whose kind is chosen freely and whose instances are counted, so a
// rebuild that frees a measure still in use or keeps one nobody holds shows up.
struct CountedMeasure : MarkingMeasure {
  CountedMeasure(const char* name, NetClass* net, bool timeAveraged, bool accumulates)
      : MarkingMeasure(name, net, "P", timeAveraged), accumulates(accumulates) {
    ++alive;
  }
  ~CountedMeasure() override { --alive; }
  bool accumulative() override { return accumulates; }
  bool accumulates;
  static inline int alive = 0;
};

void buildMeasuredNet(TestNet& n) {
  n.place("P", 1), n.tokens("P", 3), step(n, "P", "T", 1, {}, nullptr);
  for (auto [name, timeAveraged, accumulates] :
       {std::tuple{"inst", false, false}, {"avg", true, false}, {"acc", false, true}}) {
    auto* m = new CountedMeasure(name, &n, timeAveraged, accumulates);
    n.getPlace("P")->addMeasure(m), n.addMeasure(m);
  }
}

}  // namespace

TEST(NetClass, LookupsMessagesDuplicatesAndMaps) {
  TestNet net([](TestNet&) {});
  Place* a = net.place("A", 1);
  Transition* t = net.transition("T", 1, {});
  // A second element of a taken name is not entered and stays its creator's.
  Place otherPlace(2, "A", &net, false, 0);
  TestTransition otherTransition(2, "T", &net, {});
  net.addPlace(&otherPlace), net.addTransition(&otherTransition);
  EXPECT_EQ(net.getPlace("A"), a);
  EXPECT_EQ(net.getTransition("T"), t);
  EXPECT_EQ(net.writeMaps(), "Places:\n\tA -> A\nTransitions:\n\tT -> T\n");

  testing::internal::CaptureStdout();
  EXPECT_EQ(net.getPlace("nowhere"), nullptr);
  PlaceIdentMap aliases{{"local", "Missing"}};
  EXPECT_EQ(net.getPlace(&aliases, "other"), nullptr);
  EXPECT_EQ(net.getPlace(&aliases, "local"), nullptr);
  // An arc naming an unknown element is not created, not even on the known side.
  net.linkPlaceToTransition("A", "nobody", 1), net.linkTransitionToPlace("T", "nowhere", 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Couldn't find Place: nowhere\nCouldn't find Place: other\n"
            "Couldn't find Place: Missing\nCouldn't find Transition: nobody\n"
            "Couldn't find Place: nowhere\n");
  EXPECT_TRUE(a->getOutTransitions().empty());
  EXPECT_TRUE(t->getOutPlaces().empty());
  // A rebuild enters its elements in the map nodes the last one left, and a taken name still
  // keeps the first.
  net.clearMaps();
  Place* b = net.place("A", 1);
  net.addPlace(&otherPlace);
  EXPECT_EQ(net.getPlace("A"), b);
  EXPECT_EQ(net.writeMaps(), "Places:\n\tA -> A\nTransitions:\n");
}

// The engine's per-run rebuild keeps the first build's measures, filtered by the mode, and frees
// each later build, however often it runs.
TEST(NetClass, RebuildsKeepFirstMeasuresPerModeWithoutLeaks) {
  const std::string ignoring = " performance measures are only allowed in transient simulation. ";
  const std::string warnings = "Warning: instantaneous" + ignoring + "Ignoring Measure inst\n" +
                               "Warning: accumulative" + ignoring + "Ignoring Measure acc\n";
  for (int mode : {0, 1, 2}) {
    const Counter tokensBefore = Token::concTokenCounter;
    auto net = std::make_unique<TestNet>(buildMeasuredNet);
    net->buildNet();
    const std::list<MeasureObj*> first = net->getMeasureList();
    for (int run = 0; run < 30; ++run) {
      testing::internal::CaptureStdout();
      net->clearMaps(), net->buildNet(), net->loadMeasureList(mode);
      EXPECT_EQ(testing::internal::GetCapturedStdout(), run == 0 && mode != 0 ? warnings : "");
      ASSERT_EQ(net->getMeasureList(),
                mode == 0 ? first : decltype(first){*std::next(first.begin())});
      Transition* t = net->getTransition("T");
      t->startup(), t->fire(t->getNextEvent(), 1.0);
    }
    // The first build's measures read the current build through the net.
    EXPECT_TRUE(mode != 0 || first.front()->measure(0.0) == 2.0);
    net.reset();
    EXPECT_EQ(CountedMeasure::alive, 0) << mode;
    EXPECT_EQ(Token::concTokenCounter, tokensBefore) << mode;
  }
}

// Names from marking.xml or a front end that name nothing of the net are echoed escaped, so that
// they cannot rewrite the console.
TEST(NetClass, UnknownNamesFromOutsideAreEchoedEscaped) {
  TestNet net([](TestNet&) {});
  testing::internal::CaptureStdout();
  net.warnOfLeftOutMarkingTokens({{"\x1b[2J\rPool", 1, true}}, {});
  net.getTransition("\n\x07");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Unknown place '\\x1b[2J\\x0dPool' in marking.xml: 1 token left out.\n"
            "Couldn't find Transition: \\x0a\\x07\n");
}

// The net deletes no measure it was only given, and keeps each build's measures past the clearing
// after it until the next build, so the builder's pointer to the latest stays good.
TEST(NetClass, DeletesNoMeasureItWasOnlyGivenAndKeepsTheLatestBuildsUntilTheNext) {
  CountedMeasure* latest = nullptr;
  auto net = std::make_unique<TestNet>([&latest](TestNet& n) {
    n.place("P", 1), latest = new CountedMeasure("latest", &n, true, false);
    n.getPlace("P")->addMeasure(latest), n.addMeasure(latest);
  });
  CountedMeasure given("given", net.get(), true, false);  // deleting it would crash
  net->buildNet(), net->clearMaps(), net->addMeasure(&given), net->loadMeasureList(0);
  for (int run = 0; run < 3; ++run) {
    net->buildNet(), net->loadMeasureList(0), net->clearMaps();
    EXPECT_EQ(CountedMeasure::alive, 3) << run;  // the given, the stored and the latest
    EXPECT_EQ(latest->getName(), "latest");
  }
  net.reset();
  EXPECT_EQ(CountedMeasure::alive, 1);
}
