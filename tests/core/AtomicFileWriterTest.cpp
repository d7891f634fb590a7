#include "core/AtomicFileWriter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

mode_t permissions(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
  return status.st_mode & 0777;
}

// While it is written the new file is the owner's alone; put in place it lets others do what the
// file it replaces let them, and a first file what any new file lets them.
TEST(AtomicFileWriterTest, TheNewFileIsPrivateUntilItTakesThePermissionsOfTheOneItReplaces) {
  const fs::path folder = fs::current_path() / "atomic-writes";
  fs::remove_all(folder), fs::create_directories(folder);
  std::ofstream(folder / "results.log") << "old\n";
  fs::permissions(folder / "results.log", static_cast<fs::perms>(0640));
  const mode_t mask = umask(022);
  for (const char* name : {"results.log", "fresh.log"}) {
    AtomicFileWriter writer((folder / name).string());
    writer.stream() << "new\n";
    int parts = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (!entry.path().filename().string().starts_with(std::string(".") + name)) continue;
      ++parts;
      EXPECT_EQ(permissions(entry.path()), 0600u) << entry.path();
    }
    EXPECT_EQ(parts, 1);
    ASSERT_TRUE(writer.commit());
  }
  EXPECT_EQ(permissions(folder / "results.log"), 0640u);
  EXPECT_EQ(permissions(folder / "fresh.log"), 0644u);
  umask(mask);
}

}  // namespace
