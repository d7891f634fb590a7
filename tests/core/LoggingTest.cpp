#include "core/Logging.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

namespace fs = std::filesystem;

namespace {

std::set<std::string> filesIn(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

// The server log has no getter: should close() leave it open, it is not reopened under a new index.
TEST(LoggingTest, OpenEmptiesExactlyTheSimTransAndServerLogsOrReportsEach) {
  const fs::path folder = fs::current_path() / "logging";
  fs::remove_all(folder), fs::create_directories(folder);
  std::ofstream(folder / "sim.log") << "from an earlier run\n";
  Logging log;
  log.setLogFolder(folder.string()), log.open();
  EXPECT_EQ(filesIn(folder), (std::set<std::string>{"server.log", "sim.log", "trans.log"}));
  EXPECT_EQ(fs::file_size(folder / "sim.log"), 0u);
  *log.getSimLog() << "fired T1\n";
  log.close();
  EXPECT_FALSE(log.isSimLogging() || log.isTransLogging());
  EXPECT_EQ(fs::file_size(folder / "sim.log"), 9u);

  log.setLogIndex(3), log.open();
  EXPECT_EQ(filesIn(folder), (std::set<std::string>{"server.log", "sim.log", "trans.log",
                                                    "server3.log", "sim3.log", "trans3.log"}));
  // A missing folder is not made: every log says so and stays off.
  const std::string missing = (folder / "missing").string();
  log.setLogFolder(missing);
  testing::internal::CaptureStdout();
  log.open();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            missing + "/sim3.log*********** sim: could not open!!\n" + missing +
                "/trans3.log*********** trans: could not open!!\n" + missing +
                "/server3.log*********** server: could not open!!\n");
  EXPECT_FALSE(log.isSimLogging() || log.isTransLogging() || fs::exists(missing));
}

}  // namespace

// A tool's or a test's own log object neither takes the process's log streams over nor, closed,
// silences them; and no log is written through a link planted under its name.
TEST(LoggingTest, OnlyTheProcessLogIsPublishedAndNoLogIsWrittenThroughALink) {
  const fs::path folder = fs::current_path() / "publishing", other = folder / "other";
  fs::remove_all(folder), fs::create_directories(other);
  Logging& process = Logging::instance();
  process.setLogFolder(folder.string()), process.open();
  std::ofstream(folder / "mine.txt") << "not a log\n";
  fs::create_symlink(folder / "mine.txt", other / "sim.log");
  {
    Logging tool;
    tool.setLogFolder(other.string());
    testing::internal::CaptureStdout();
    tool.open();
    const std::string path = (other / "sim.log").string();
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              path + "*********** sim: could not open!!\n" + path +
                  " is a symbolic link: a log is never written through one.\n");
    EXPECT_TRUE(!tool.isSimLogging() && tool.isTransLogging() && fs::is_symlink(other / "sim.log"));
    EXPECT_EQ(Logging::trans(), process.getTransLog());
    tool.close();
  }
  EXPECT_EQ(Logging::sim(), process.getSimLog());
  EXPECT_EQ(Logging::trans(), process.getTransLog());
  std::ifstream mine(folder / "mine.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(mine), {}), "not a log\n");
  process.close();
  EXPECT_TRUE(Logging::sim() == nullptr && Logging::trans() == nullptr);
}
