#include <gtest/gtest.h>

#include "support/TestNet.h"

using namespace testnet;

namespace {

// A marking measure of place P whose kind is chosen freely and whose instances are counted, so a
// rebuild that frees a measure still in use or keeps one nobody holds shows up.
class CountedMeasure : public MarkingMeasure {
 public:
  CountedMeasure(const char* name, NetClass* net, bool timeAveraged, bool accumulates)
      : MarkingMeasure(name, net, "P", timeAveraged), accumulates(accumulates) { ++alive; }
  ~CountedMeasure() override { --alive; }
  bool accumulative() override { return accumulates; }
  static int alive;

 private:
  bool accumulates;
};
int CountedMeasure::alive = 0;

void buildMeasuredNet(TestNet& n) {
  n.place("P", 1);
  n.transition("T", 1, {});
  n.linkPlaceToTransition("P", "T", 1);
  n.tokens("P", 3);
  const struct { const char* name; bool timeAveraged, accumulates; } kinds[] = {
      {"inst", false, false}, {"avg", true, false}, {"acc", false, true}};
  for (const auto& kind : kinds) {
    auto* m = new CountedMeasure(kind.name, &n, kind.timeAveraged, kind.accumulates);
    n.getPlace("P")->addMeasure(m);
    n.addMeasure(m);
  }
}

}  // namespace

TEST(NetClass, LookupsMessagesDuplicatesAndMaps) {
  TestNet net([](TestNet&) {});
  EXPECT_EQ(net.writeMaps(), "Places:\nTransitions:\n");
  Place* a = net.place("A", 1);
  Transition* t = net.transition("T", 1, {});
  // A second element of a taken name is not entered and stays its creator's.
  auto* otherPlace = new Place(2, "A", &net, false, 0);
  auto* otherTransition = new TestTransition(2, "T", &net, {});
  net.addPlace(otherPlace);
  net.addTransition(otherTransition);
  EXPECT_EQ(net.getPlace("A"), a);
  EXPECT_EQ(net.getTransition("T"), t);
  delete otherPlace;
  delete otherTransition;
  EXPECT_EQ(net.writeMaps(), "Places:\n\tA -> A\nTransitions:\n\tT -> T\n");

  testing::internal::CaptureStdout();
  EXPECT_EQ(net.getPlace("nowhere"), nullptr);
  PlaceIdentMap aliases{{"local", "Missing"}};
  EXPECT_EQ(net.getPlace(&aliases, "other"), nullptr);
  EXPECT_EQ(net.getPlace(&aliases, "local"), nullptr);
  // An arc naming an unknown element is not created, not even on the known side.
  net.linkPlaceToTransition("A", "nobody", 1);
  net.linkTransitionToPlace("T", "nowhere", 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Couldn't find Place: nowhere\nCouldn't find Place: other\n"
            "Couldn't find Place: Missing\nCouldn't find Transition: nobody\n"
            "Couldn't find Place: nowhere\n");
  EXPECT_TRUE(a->getOutTransitions().empty());
  EXPECT_TRUE(t->getOutPlaces().empty());
}

// The engine's per-run rebuild keeps the first build's measures, filtered by the mode, and frees
// each later build, however often it runs.
TEST(NetClass, RebuildsKeepFirstMeasuresPerModeWithoutLeaks) {
  const std::string warnings =
      "Warning: instantaneous performance measures are only allowed in transient simulation. "
      "Ignoring Measure inst\n"
      "Warning: accumulative performance measures are only allowed in transient simulation. "
      "Ignoring Measure acc\n";
  for (int mode : {0, 1, 2}) {
    SCOPED_TRACE(mode);
    const int measuresBefore = CountedMeasure::alive;
    const Counter tokensBefore = Token::concTokenCounter;
    {
      TestNet net(buildMeasuredNet);
      net.buildNet();
      const std::list<MeasureObj*> first = net.getMeasureList();
      const std::list<MeasureObj*> expected =
          mode == 0 ? first : std::list<MeasureObj*>{*std::next(first.begin())};
      for (int run = 0; run < 30; ++run) {
        testing::internal::CaptureStdout();
        net.clearMaps();
        net.buildNet();
        net.loadMeasureList(mode);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), run == 0 && mode != 0 ? warnings : "");
        ASSERT_EQ(net.getMeasureList(), expected);
        Transition* t = net.getTransition("T");
        t->startup();
        t->fire(t->getNextEvent(), 1.0);
      }
      // Measures of the first build read the current build through the net.
      if (mode == 0) {
        EXPECT_EQ(first.front()->measure(0.0), 2.0);
      }
    }
    EXPECT_EQ(CountedMeasure::alive, measuresBefore);
    EXPECT_EQ(Token::concTokenCounter, tokensBefore);
  }
}
