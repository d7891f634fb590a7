#include "core/Logging.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// Names the logs whose flag is on, including those without a getter.
struct InspectedLogging : Logging {
  std::string on() const {
    const bool flags[] = {simlogging, eventlogging, translogging, tokenlogging, serverlogging,
                          clientlogging};
    const char* names[] = {"sim ", "event ", "trans ", "token ", "server ", "client "};
    std::string result;
    for (int i = 0; i < 6; ++i) result += flags[i] ? names[i] : "";
    return result;
  }
};

fs::path freshFolder() {
  fs::path folder = fs::current_path() / "logging" /
                    testing::UnitTest::GetInstance()->current_test_info()->name();
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

std::set<std::string> filesIn(const fs::path& folder) {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

std::string contents(const fs::path& file) {
  std::stringstream text;
  text << std::ifstream(file).rdbuf();
  return text.str();
}

TEST(LoggingTest, OpenEmptiesExactlyTheSimTransAndServerLogs) {
  const fs::path folder = freshFolder();
  std::ofstream(folder / "sim.log") << "from an earlier run\n";
  InspectedLogging log;
  log.close();
  EXPECT_EQ(log.getLogDir(), ".");
  log.setLogFolder(folder.string());
  log.open();
  EXPECT_EQ(log.on(), "sim trans server ");
  EXPECT_EQ(filesIn(folder), (std::set<std::string>{"server.log", "sim.log", "trans.log"}));
  EXPECT_EQ(contents(folder / "sim.log"), "");
  *log.getSimLog() << "fired T1\n";
  log.close();
  log.close();
  EXPECT_EQ(log.on(), "");
  EXPECT_EQ(contents(folder / "sim.log"), "fired T1\n");

  log.setLogIndex(3);
  log.open();
  EXPECT_EQ(filesIn(folder).count("trans3.log"), 1u);
  EXPECT_EQ(filesIn(folder).size(), 6u);
}

TEST(LoggingTest, MissingFolderReportsEachLogAndLeavesEveryLogOff) {
  const std::string missing = (freshFolder() / "missing").string();
  InspectedLogging log;
  log.setLogFolder(missing);
  testing::internal::CaptureStdout();
  log.open();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            missing + "/sim.log*********** sim: could not open!!\n" + missing +
                "/trans.log*********** trans: could not open!!\n" + missing +
                "/server.log*********** server: could not open!!\n");
  EXPECT_EQ(log.on(), "");
  EXPECT_FALSE(fs::exists(missing));
}

}  // namespace
