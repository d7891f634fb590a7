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

bool written(const fs::path& path) {
  AtomicFileWriter writer(path.string());
  writer.stream() << "new\n";
  return writer.commit();
}

// The file written in place of another keeps what the other let others do; a new one has the
// permissions any new file gets.
TEST(AtomicFileWriterTest, TheNewFileTakesThePermissionsOfTheFileItReplaces) {
  const fs::path folder = fs::current_path() / "atomic-writes";
  fs::remove_all(folder), fs::create_directories(folder);
  const mode_t mask = umask(022);
  for (const mode_t mode : {0600, 0640, 0604}) {
    std::ofstream(folder / "results.log") << "old\n";
    fs::permissions(folder / "results.log", static_cast<fs::perms>(mode));
    ASSERT_TRUE(written(folder / "results.log"));
    EXPECT_EQ(permissions(folder / "results.log"), mode);
  }
  ASSERT_TRUE(written(folder / "fresh.log"));
  EXPECT_EQ(permissions(folder / "fresh.log"), 0644u);
  umask(mask);
}

}  // namespace
