#include "frontend/MainClass.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

// May run before the front end's own static initialisers.
const std::string folderSeenByStaticInit = MainClass::getLog()->getLogDir();

TEST(MainClassTest, OneLogObjectUsableFromStaticInitialisation) {
  EXPECT_EQ(folderSeenByStaticInit, ".");
  EXPECT_EQ(MainClass::getLog(), &MainClass::log);
}

TEST(MainClassDeathTest, ExitLeavesOpenLogsComplete) {
  const std::filesystem::path folder = std::filesystem::current_path() / "mainclass_exit";
  std::filesystem::create_directories(folder);
  Logging& log = *MainClass::getLog();
  EXPECT_EXIT((log.setLogFolder(folder.string()), log.open(),
               *log.getSimLog() << "first line\nlast line\n", std::exit(1)),
              testing::ExitedWithCode(1), "");
  std::ifstream written(folder / "sim.log");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}), "first line\nlast line\n");
}

}  // namespace
