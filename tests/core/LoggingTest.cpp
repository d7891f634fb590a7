#include "core/Logging.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace fs = std::filesystem;

namespace {

// The server and client logs have no getter.
struct InspectedLogging : Logging {
  bool isServerLogging() const { return serverlogging; }
  bool isClientLogging() const { return clientlogging; }
};

std::set<std::string> filesIn(const fs::path& folder) {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

TEST(LoggingTest, OpenEmptiesExactlyTheSimTransAndServerLogs) {
  const fs::path folder = fs::current_path() / "logging";
  fs::remove_all(folder);
  fs::create_directories(folder);
  std::ofstream(folder / "sim.log") << "from an earlier run\n";
  InspectedLogging log;
  log.setLogFolder(folder.string());
  log.open();
  EXPECT_TRUE(log.isSimLogging() && log.isTransLogging() && log.isServerLogging());
  EXPECT_FALSE(log.isEventLogging() || log.isTokenLogging() || log.isClientLogging());
  EXPECT_EQ(filesIn(folder), (std::set<std::string>{"server.log", "sim.log", "trans.log"}));
  EXPECT_EQ(fs::file_size(folder / "sim.log"), 0u);
  *log.getSimLog() << "fired T1\n";
  log.close();
  EXPECT_FALSE(log.isSimLogging() || log.isTransLogging() || log.isServerLogging());
  EXPECT_EQ(fs::file_size(folder / "sim.log"), 9u);

  log.setLogIndex(3);
  log.open();
  EXPECT_EQ(filesIn(folder), (std::set<std::string>{"server.log", "sim.log", "trans.log",
                                                    "server3.log", "sim3.log", "trans3.log"}));
}

TEST(LoggingTest, MissingFolderReportsEachLogAndLeavesEveryLogOff) {
  const std::string missing = (fs::current_path() / "logging-missing").string();
  InspectedLogging log;
  log.setLogFolder(missing);
  testing::internal::CaptureStdout();
  log.open();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            missing + "/sim.log*********** sim: could not open!!\n" + missing +
                "/trans.log*********** trans: could not open!!\n" + missing +
                "/server.log*********** server: could not open!!\n");
  EXPECT_FALSE(log.isSimLogging() || log.isTransLogging() || log.isServerLogging());
  EXPECT_FALSE(fs::exists(missing));
}

}  // namespace
