#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "engine/EngineHarness.h"
#include "model/ImplementedNetClass.h"
#include "model/MeasureObj_Execution__thread__pool__in__use.h"
#include "model/Token_Data.h"
#include "model/Transition_Canny__ready.h"
#include "net/Place.h"
#include "net/Token_int.h"
#include "net/Transition.h"
#include "tokendb/GMDB.h"

using namespace enginetest;

namespace {

namespace fs = std::filesystem;

const char* const POOL = "Execution_thread_pool";
const std::string DEFAULT_DATA =
    "{n=\"\"; s=0; l=0; gT=00:00:00@01/01/0001; d=0; ood=0; tL=0; gL=0}";
const std::string STORED =
    "{n=\"a\"b\"; s=-5; l=7; gT=14:07:09@03/05/2019; d=1; ood=0; tL=2147483647; gL=-2147483648}";

// The model's net, built in a folder of the test's own from the marking.xml the program ships.
struct Model : testing::Test {
  Model() { fs::copy_file(VUDI_SOURCE_DIR "/marking.xml", "marking.xml"), net.buildNet(); }
  Place& place(const char* name) { return *net.getPlace(name); }
  void rebuild() { net.clearMaps(), net.buildNet(); }
  double inUse() { return measure_Execution__thread__pool__in__use->measure(-1.0); }

  InOwnFolder folder;
  ImplementedNetClass net;
};

std::string names(const auto& elements) {
  std::string text;
  for (const auto* element : elements) text += " " + element->getName();
  return text;
}

TEST_F(Model, BuildsTheNetWithItsArcsInOrderOnEveryRebuild) {
  // Per transition in id order: priority and weight, input places | output places; then the
  // pool's producers | consumers, the number of measures and the token counts of the places.
  const std::string expected =
      "Video_ready 00 Execution_thread_pool | Video_executed\nCanny_execution 00 Canny_main | "
      "Canny_executed\nOutput_execution 00 Output_main | Output_executed\ncon_2sMS 00 Video_out1 | "
      "Canny_in_1\ncon_mC6n 00 Canny_out1 | Output_in_1\nCanny_post_execution 11 Canny_executed | "
      "Execution_thread_pool Canny_out1\nCanny_ready 11 Execution_thread_pool Canny_in_1 | "
      "Canny_main\nVideo_post_execution 11 Video_executed | Execution_thread_pool Video_out1\n"
      "Output_post_execution 11 Output_executed | Execution_thread_pool\nOutput_ready 11 "
      "Execution_thread_pool Output_in_1 | Output_main\n Canny_post_execution Video_post_execution "
      "Output_post_execution | Video_ready Canny_ready Output_ready 1 4000000000";
  for (int build = 0; build < 2; ++build) {
    std::string built, sizes;
    for (int id = 1; id <= 10; ++id) {
      sizes += std::to_string(net.getPlace(id)->getMarkingSize());
      const Transition& t = *net.getTransition(id);
      built += t.getName() + " " + std::to_string(t.getPriority()) +
               std::to_string(int(t.getFiringWeight())) + names(t.getInPlaces()) + " |" +
               names(t.getOutPlaces()) + "\n";
    }
    EXPECT_EQ(built + names(place(POOL).getInTransitions()) + " |" +
                  names(place(POOL).getOutTransitions()) + " " +
                  std::to_string(net.getMeasureList().size()) + " " + sizes, expected);
    EXPECT_EQ(net.getTransitions().size() + net.getPlaces().size(), 20u);
    EXPECT_EQ(place(POOL).getMeasures().front(), net.getMeasureList().front());
    // A whole new net, as every run builds, with the threads the first build read from the file.
    if (build == 0) std::ofstream("marking.xml") << "<m/>";
    if (build == 0) rebuild();
  }
  // A transition whose place cannot be bound does not come into being.
  EXPECT_DEATH(Transition_Canny__ready(11, "Canny_ready", &net, {}, "", 1, 1, 0, 0, 0, 0),
               "Assertion failed: place \"Execution_thread_pool\" of Canny_ready bound");
}

// The model's measure of the latest build stays good while the next rebuild clears the net.
TEST_F(Model, TheLatestBuildsMeasureOutlivesTheNextClearing) {
  rebuild(), net.loadMeasureList(0), net.clearMaps();
  EXPECT_EQ(measure_Execution__thread__pool__in__use->getName(), "Execution_thread_pool_in_use");
}

// A digit: a thread token of that value; a letter: a frame of that name; "*": a new frame.
std::string show(const TokenList& tokens) {
  std::string text;
  for (const Ptr<Token>& token : tokens) {
    const auto* frame = dynamic_cast<const Token_Data*>(token.GetRawPtr());
    text += !frame ? token->content() : frame->get_n().empty() ? "*" : frame->get_n();
  }
  return text;
}

TEST_F(Model, EachTransitionBindsTheOldestFittingTokensAndMovesThemOn) {
  const double EXP = NAN;  // an exponential delay
  // clang-format off
  const struct { const char* name; std::vector<std::pair<const char*, std::string>> put;
                 const char* bound; const char* after; double delay; } cases[] = {
    // transition, tokens put, the candidate ("-": none), the non-empty places after its firing
    {"Video_ready", {{POOL, "12"}}, "1", " Execution_thread_pool=2 Video_executed=*", 33.333333333},
    {"Canny_execution", {{"Canny_main", "ab"}}, "a", " Canny_executed=a Canny_main=b", 8.938818925410542},
    {"Output_execution", {{"Output_main", "a"}}, "a", " Output_executed=a", EXP},
    {"con_2sMS", {{"Video_out1", "7ab"}}, "a", " Canny_in_1=a Video_out1=7b", EXP},
    {"con_mC6n", {{"Canny_out1", "a"}}, "a", " Output_in_1=a", EXP},
    {"Canny_post_execution", {{"Canny_executed", "ab"}}, "a", " Execution_thread_pool=0 Canny_executed=b Canny_out1=*", 0},
    {"Canny_ready", {{POOL, "12"}, {"Canny_in_1", "abc"}}, "1a", " Execution_thread_pool=2 Canny_main=a Canny_in_1=bc", 0},
    {"Canny_ready", {{POOL, "12"}}, "-", " Execution_thread_pool=12", 0},
    {"Video_post_execution", {{POOL, "1"}, {"Video_executed", "a"}}, "a", " Execution_thread_pool=10 Video_out1=*", 0},
    {"Output_post_execution", {{"Output_executed", "ab"}}, "a", " Execution_thread_pool=0 Output_executed=b", 0},
    {"Output_ready", {{POOL, "a1"}, {"Output_in_1", "2b"}}, "1b", " Execution_thread_pool=a Output_main=b Output_in_1=2", 0},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    rebuild(), place(POOL).removeCurrentMarking();
    for (const auto& [name, tokens] : c.put)
      for (const char t : tokens) {
        auto* frame = std::isalpha(t) ? new Token_Data() : nullptr;
        if (frame) frame->set_n(std::string(1, t));
        place(name).addToken(frame ? Ptr<Token>(frame) : Ptr<Token>(new Token_int(t - '0')));
      }
    Transition& t = *net.getTransition(c.name);
    TempBindingList* candidates = t.generateBindingList();  // the transition's own list
    ASSERT_TRUE(candidates && candidates->size() <= 1);
    EXPECT_EQ(candidates->empty() ? "-" : show(*candidates->front()), c.bound);
    if (!candidates->empty()) t.moveTokens(*candidates->front());
    t.clearTempBindingList(candidates);
    std::string after;
    for (int id = 1; id <= 10; ++id) {
      const Place& p = *net.getPlace(id);
      if (p.getMarkingSize() > 0) after += " " + p.getName() + "=" + show(p.getFullMarking());
    }
    EXPECT_EQ(after, c.after);
    TokenList none;  // an exponential delay is a fresh sample on every call
    const double delay = t.getFiringDelay(none);
    EXPECT_TRUE(std::isnan(c.delay) ? delay > 0.0 && delay != t.getFiringDelay(none)
                                    : delay == c.delay && t.getFiringDelay(none) == c.delay);
  }
}

// The engine's event step on the model, keeping the names of elements that report watched values.
struct Stepper : Simulation {
  Stepper(NetClass* net, const DateTime& start)
      : Simulation(net, "model", "NULL", start, start, 1, TRANSIENT, true, false, 0.05, 0.0, 0) {
    init();
  }
  std::string step() {  // fires the next event as the runs do: the name of its transition
    getFirstBindingsOfAllTransitions(&candidates, false);
    Binding* b = resolve_conflicts(candidates);
    const std::string name = b->getBoundTransition()->getName();
    updateSimulationTime(b->getTime()), updateAllMeasures(b, true, false), executeEvent(b);
    return name;
  }
  double now() const { return currentTime.FullDateTime(); }
  using Simulation::measureOut;
  void measureOut(DefaultGM* element, double) override { watched.insert(element->getName()); }

  std::set<std::string> watched;
  std::list<Binding*> candidates;
};

TEST_F(Model, ThreadsAreConservedTheSourceCountsDownAgainAndTheFiringsAreAsRecorded) {
  const double FRAME = 33.333333333, tolerance = 1e-5;  // the calendar's resolution
  // The places whose tokens hold a thread, the pool's free ones included.
  const char* threads[] = {POOL,          "Video_executed", "Canny_main", "Canny_executed",
                           "Output_main", "Output_executed"};
  seed(1), rebuild();  // from the package seed 1..6, whose firings were recorded
  const Counter bindings = Binding::idCounter, tokens = Token::tokenCounter;
  const DateTime start(DateTime::jan, 1, 2024, 8, 0, 0);
  Stepper run(&net, start);
  // From the empty pipeline: the first frame and, at the same instant, its thread given back;
  // then the frame carried on, and at once a thread taken for its edge detection.
  std::string fired;
  std::vector<double> times;
  for (int k = 0; k < 4; ++k) fired += run.step() + " ", times.push_back(run.now());
  EXPECT_EQ(fired, "Video_ready Video_post_execution con_2sMS Canny_ready ");
  EXPECT_NEAR(times[0], start.FullDateTime() + FRAME, tolerance);
  EXPECT_TRUE(times[0] == times[1] && times[1] < times[2] && times[2] == times[3]);
  double frame = times[0];
  int longer = 0;
  for (int events = 5; events <= 20004; ++events) {
    fired = run.step();
    int held = 0;
    for (const char* p : threads) held += place(p).getMarkingSize();
    ASSERT_EQ(held, 4) << "after " << fired;
    ASSERT_TRUE(inUse() == 4.0 - place(POOL).getMarkingSize() && inUse() >= 0 && inUse() <= 4);
    if (fired == "Video_ready") {
      // Its countdown began at an earlier event: a stage took its thread, or a thread came back
      // to an empty pool. Frames are never closer than the countdown, and sometimes further.
      ASSERT_GE(run.now() - frame, FRAME - tolerance);
      longer += run.now() - frame > FRAME + 0.01;
      frame = run.now();
      const auto began = std::lower_bound(times.begin(), times.end(), frame - FRAME - tolerance);
      ASSERT_TRUE(began != times.end() && *began <= frame - FRAME + tolerance) << frame;
    }
    times.push_back(run.now());
    if (events == 5000) {  // time, bindings and tokens as before the searches were made cheaper
      EXPECT_EQ(std::tuple(run.now(), Binding::idCounter - bindings, Token::tokenCounter - tokens),
                std::tuple(63839974107.797607, Counter{6001}, Counter{3000}));
    }
  }
  EXPECT_GT(longer, 0);
  EXPECT_EQ(run.watched, std::set<std::string>{"Video_ready"});
}

// At 80 s the second frame's edge detection holds a thread when the three exponential hand-overs
// (mean 1 s) before it took at most 80 - 2 x 33.333333333 - 8.938818925410542 s together: a
// Gamma(3, 1) probability. Over unrelated seeds the printed 97.5 % intervals must hold it.
TEST_F(Model, ThreadsInUseAt80SecondsMatchTheExactAnswerOverManySeeds) {
  const double x = 80.0 - 2 * 33.333333333 - 8.938818925410542;
  const double exact = 1.0 - std::exp(-x) * (1.0 + x + x * x / 2.0);  // 0.814205
  const int runs = kSanitized ? 20 : 200;
  int covered = 0;
  double sum = 0.0, sumSquares = 0.0;
  for (int k = 0; k < runs; ++k) {
    RandomWrapper::SetPackageSeed(RandomWrapper::seedWords(1000 + k).data()), rebuild();
    const DateTime start(0.0);
    double alpha = 0.05;  // confidence 95
    Simulation run(&net, "m", "NULL", start, start + 80.0, 2, Simulation::TRANSIENT, true, false,
                   0.05, 0.0, 0);
    printed([&] { run.init(), run.run_transient(alpha); });
    auto& m = *net.getMeasureList().front();
    double mean, halfWidth;
    ASSERT_TRUE(m.lastEstimate(mean, halfWidth));
    covered += std::fabs(mean - exact) <= halfWidth;
    sum += mean, sumSquares += mean * mean;
  }
  const double average = sum / runs, spread = std::sqrt(sumSquares / runs - average * average);
  EXPECT_NEAR(average, exact, 4 * spread / std::sqrt(runs));
  EXPECT_GE(covered, runs * 0.9) << "of " << runs;  // 97.5 % expected
}

// Transient runs of seed 7. A point at the first frame's instant sees the thread Video_ready
// took given back by the immediate Video_post_execution; a mean of whole threads times the
// replications the closing line counts is a whole number.
TEST_F(Model, TransientPointsSeeTheirWholeInstantAndRestOnTheCountedReplications) {
  std::string out;
  const auto lastMean = [&](double stop) {
    seed(7), rebuild();
    const DateTime start(0.0);
    double alpha = 0.2, mean = NAN, halfWidth;
    Simulation run(&net, "m", "NULL", start, start + stop, 2, Simulation::TRANSIENT, true, true,
                   0.05, 0.0, 0);
    out = printed([&] { run.init(), run.run_transient(alpha); });
    EXPECT_TRUE(net.getMeasureList().front()->lastEstimate(mean, halfWidth));
    return mean;
  };
  EXPECT_EQ(lastMean(33.333333333), 0.0);
  const double mean = lastMean(80.0), count = std::stod(out.substr(out.rfind(", ") + 2));
  EXPECT_NE(mean, std::round(mean));
  EXPECT_NEAR(mean * count, std::round(mean * count), 1e-6) << out;
}

// A row as the token database hands it over: the eight attributes with the buffer types they were
// read with, every byte zero as for NULL columns.
struct Row : token_description {
  Row() {
    id = 42;
    const SQLSMALLINT types[] = {SQL_C_CHAR, SQL_C_SLONG, SQL_C_SLONG, SQL_C_TYPE_TIMESTAMP,
                                 SQL_C_BIT,  SQL_C_BIT,   SQL_C_SLONG, SQL_C_SLONG};
    for (int k = 0; k < 8; ++k) values[k].sql_c_type = types[k], attributes.push_back(&values[k]);
  }
  template <class Value>
  void set(size_t k, const Value& value) { std::memcpy(values[k].value, &value, sizeof value); }
  token_attribute values[8];
};

TEST_F(Model, StoredRowsAndMarkingFileTokensGiveTheirValuesOrTheDefaultsAndSayWhy) {
  const std::string BAD = "Token 42 of type Data: gT is no valid date, kept 00:00:00@01/01/0001\n";
  const std::string SKIPPED =
      "Token 42 of type Data does not hold the attributes n, s, l, gT, d, ood, tL, gL: skipped\n";
  // clang-format off
  const struct { std::function<void(Row&)> change; std::string content, message; } cases[] = {
    {[](Row& r) { std::strcpy(r.values[0].value, "a\"b"), r.set(1, -5), r.set(2, 7), r.set(4, true),
                  r.set(6, INT_MAX), r.set(7, INT_MIN), r.set(3, SQL_TIMESTAMP_STRUCT{2019, 3, 5, 14, 7, 9, 500000000}); },
     STORED, ""},
    {[](Row& r) { r.set(3, SQL_TIMESTAMP_STRUCT{2019, 2, 30, 0, 0, 0, 0}); }, DEFAULT_DATA, BAD},
    {[](Row& r) { r.set(3, SQL_TIMESTAMP_STRUCT{2019, 3, 5, 0, 0, 0, 1000000000}); }, DEFAULT_DATA, BAD},
    {[](Row& r) { r.attributes.pop_back(); }, "", SKIPPED},
    {[](Row& r) { r.values[1].sql_c_type = SQL_C_CHAR; }, "", SKIPPED}};
  // clang-format on
  for (const auto& c : cases) {
    Row row;
    c.change(row);
    std::unique_ptr<Token_Data> token;
    EXPECT_EQ(printed([&] { token.reset(Token_Data::createFromRow(row)); }), c.message);
    EXPECT_EQ(token ? token->content() : "", c.content);
    EXPECT_NEAR(token ? token->get_gT().Fraction() : 0.0, c.content == STORED ? 0.5 : 0.0, 1e-4);
  }
  // The marking file: only "true" is true, and a bad time keeps the default.
  std::ofstream("marking.xml")
      << "<m><token place='P' n='a&quot;b' s=' -5x' l='7' gT='14:07:09@03/05/2019' d='true' "
         "ood='True' tL='2147483648' gL='-2147483648'/><token place='Q'/><token place='P' d='1' "
         "gT='14:07:09'/><token place='P' ood='1'/></m>";
  Place p(1, "P", nullptr, false, 0);
  const std::string gT = "Data token in marking.xml: gT \"",
                    kept = "\" is no time of the form hh:mm:ss@mm/dd/yyyy, kept 00:00:00@01/01/"
                           "0001\n";
  EXPECT_EQ(printed([&] { Token_Data::addInitialTokens(&p); }), gT + "14:07:09" + kept + gT + kept);
  EXPECT_EQ(p.content(), STORED + "," + DEFAULT_DATA + "," + DEFAULT_DATA);
}

// A time that marking.xml spells wrongly is echoed with its control characters escaped.
TEST_F(Model, AWrongTimeOfMarkingXmlIsEchoedEscaped) {
  std::ofstream("marking.xml") << "<?xml version='1.1'?><m><token place='P' gT='&#x1b;&#xd;'/></m>";
  Place p(1, "P", nullptr, false, 0);
  EXPECT_NE(printed([&] { Token_Data::addInitialTokens(&p); }).find("gT \"\\x1b\\x0d\" is no time"),
            std::string::npos);
}

// createTokens in a child process (the driver manager reads its configuration once per process)
// whose data source "vudi" leads to a database of its own: three stored frames, one in a place the
// net does not have; then a transient run after the database is gone.
TEST_F(Model, CreateTokensPlacesTheStoredFramesAndEveryReplicationStartsWithThem) {
  const char* server = std::getenv("VUDI_TEST_DB_DIR");
  if (!server) GTEST_SKIP() << "no test database: see scripts/test-db.sh";
  const std::string db = "model_test_" + std::to_string(getpid()), dir = server,
                    sql = "mariadb --no-defaults -uraruzev -praruzev -S '" + dir + "/mysql.sock' ";
  fs::copy_file(dir + "/odbcinst.ini", "odbcinst.ini", fs::copy_options::overwrite_existing);
  std::ofstream("odbc.ini") << "[vudi]\nDriver=MariaDB\nSOCKET=" + dir + "/mysql.sock\nDATABASE="
                            << db;
  std::ofstream("frames.sql")
      << "CREATE DATABASE " + db + "; USE " + db + ";\n"
      << "CREATE TABLE 1_places (id int, name varchar(100));\n"
         "CREATE TABLE 1_tokens_data (id int, object_id int, place_id int);\n"
         "CREATE TABLE 1_objects_data (id int, n varchar(100), s int, l int, gt datetime, "
         "d bit(1), ood bit(1), tl int, gl int);\n"
         "INSERT INTO 1_places VALUES (1, 'Canny_in_1'), (2, 'Nowhere');\n"
         "INSERT INTO 1_objects_data VALUES (1, 'a\"b', -5, 7, '2019-03-05 14:07:09', 1, 0, "
         "2147483647, -2147483648), (2, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL);\n"
         "INSERT INTO 1_tokens_data VALUES (1, 1, 1), (2, 2, 2), (3, 2, 1);\n";
  const std::string said =
      "connection established!\n... connected !\nAll tokens created.\nconnection closed.\nAll "
      "token references replaced.\nCouldn't find Place: Nowhere\nCould not find Place 'Nowhere' "
      "for " + DEFAULT_DATA + "\n2 tokens added to the net.\n";
  ASSERT_EQ(std::system((sql + "<frames.sql").c_str()), 0);
  const auto child = [&] {
    setenv("ODBCSYSINI", fs::current_path().c_str(), 1);
    const std::string out = printed([&] { net.createTokens(); });
    bool ok = std::system((sql + "-e 'DROP DATABASE " + db + "'").c_str()) == 0 &&
              out.starts_with("... try to connect to the database : vudi ...\n") &&
              out.ends_with(said);
    ok = ok && place("Canny_in_1").content() == STORED + "," + DEFAULT_DATA;
    // Every replication starts with copies of the two frames, so at time 0 (after the immediate
    // firings there) two threads are in use in every one; without them, none.
    const DateTime start(0.0);
    double alpha = 0.05, interval = 100.0;
    Simulation run(&net, "m", "NULL", start, start + 200.0, 3, Simulation::TRANSIENT, true, false, 1e300, 0.0, 0);
    std::ostringstream results;
    const std::string ran = printed([&] { run.init(), run.run_transient(alpha); });
    net.getMeasureList().front()->writeResult(results, results, 0, &start, &interval);
    std::cerr << out << ran << results.str();
    std::exit(ok && results.str().find("Epsilon\n\n\t0.000000e+00\t2.000000e+00\t0.000000e+00\t") !=
                        std::string::npos ? 0 : 1);
  };
  EXPECT_EXIT(child(), testing::ExitedWithCode(0), "");
}

}  // namespace
