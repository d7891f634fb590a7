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
  EXPECT_FALSE(log.hasFailed());
  testing::internal::CaptureStdout(), testing::internal::CaptureStderr();
  log.open();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            missing + "/sim3.log*********** sim: could not open!!\n" + missing +
                "/trans3.log*********** trans: could not open!!\n" + missing +
                "/server3.log*********** server: could not open!!\n");
  const std::string why = " could not be opened: No such file or directory\n";
  EXPECT_EQ(testing::internal::GetCapturedStderr(), missing + "/sim3.log" + why + missing +
                                                        "/trans3.log" + why + missing +
                                                        "/server3.log" + why);
  EXPECT_TRUE(log.hasFailed());
  EXPECT_FALSE(log.isSimLogging() || log.isTransLogging() || fs::exists(missing));
}

// Another log object (a tool's, a test's) neither takes the process's log streams over nor,
// closed, silences them; no log is written through a link planted under its name.
TEST(LoggingTest, OnlyTheProcessLogIsPublishedAndNoLogIsWrittenThroughALink) {
  const fs::path folder = fs::current_path() / "publishing", link = folder / "other" / "sim.log";
  fs::remove_all(folder), fs::create_directories(link.parent_path());
  fs::create_symlink(folder / "mine.txt", link);
  Logging& process = Logging::instance();
  process.setLogFolder(folder.string()), process.open();
  Logging tool;
  tool.setLogFolder(link.parent_path().string());
  testing::internal::CaptureStdout(), testing::internal::CaptureStderr(), tool.open(), tool.close();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            link.string() + "*********** sim: could not open!!\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            link.string() + " is a symbolic link: a log is never written through one.\n");
  EXPECT_TRUE(tool.hasFailed() && !process.hasFailed());
  EXPECT_TRUE(Logging::sim() == process.getSimLog() && Logging::trans() == process.getTransLog());
  process.close();
}

}  // namespace
