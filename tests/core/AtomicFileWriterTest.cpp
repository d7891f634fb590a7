#include "core/AtomicFileWriter.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

mode_t permissions(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
  return status.st_mode & 0777;
}

gid_t groupOf(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
  return status.st_gid;
}

// While it is written a new file that replaces another is the owner's alone; put in place it lets
// others do, in the same group, what the file it replaces let them, and a first file what any new
// file lets them.
TEST(AtomicFileWriterTest, TheNewFileIsPrivateUntilItTakesThePermissionsOfTheOneItReplaces) {
  const fs::path folder = fs::current_path() / "atomic-writes";
  fs::remove_all(folder), fs::create_directories(folder);
  std::ofstream(folder / "results.log") << "old\n";
  fs::permissions(folder / "results.log", static_cast<fs::perms>(0640));
  // Root may give it a group other than its own; anybody else, its own.
  const gid_t group = geteuid() == 0 ? 65534 : getegid();
  ASSERT_EQ(chown((folder / "results.log").c_str(), static_cast<uid_t>(-1), group), 0);
  const mode_t mask = umask(022);
  for (const auto& [name, whileWritten] :
       {std::pair{"results.log", 0600u}, std::pair{"fresh.log", 0644u}}) {
    AtomicFileWriter writer((folder / name).string());
    writer.stream() << "new\n";
    int parts = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
      if (!entry.path().filename().string().starts_with(std::string(".") + name)) continue;
      ++parts;
      EXPECT_EQ(permissions(entry.path()), whileWritten) << entry.path();
    }
    EXPECT_EQ(parts, 1);
    ASSERT_TRUE(writer.commit());
  }
  EXPECT_EQ(permissions(folder / "results.log"), 0640u);
  EXPECT_EQ(groupOf(folder / "results.log"), group);
  EXPECT_EQ(permissions(folder / "fresh.log"), 0644u);
  umask(mask);
}

// Who may not give the new file the old one's group must not let the group the file gets instead
// do less than everybody may.
TEST(AtomicFileWriterTest, AGroupThatCannotBeKeptMayDoWhatOthersMay) {
  if (geteuid() != 0) GTEST_SKIP() << "only root can make a file of a group its writer is not in";
  const fs::path folder = fs::current_path() / "atomic-foreign-group";
  fs::remove_all(folder), fs::create_directories(folder);
  std::ofstream(folder / "results.log") << "old\n";
  fs::permissions(folder / "results.log", static_cast<fs::perms>(0644));
  if (chown((folder / "results.log").c_str(), 0, 0) != 0 ||
      chown(folder.c_str(), 65534, 65534) != 0)
    GTEST_SKIP() << "cannot give the files away: " << std::strerror(errno);
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(dir, 0);
  const pid_t child = fork();
  if (child == 0) {
    // The folder is entered while the path to it can still be searched.
    if (fchdir(dir) != 0 || setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
      _exit(2);
    AtomicFileWriter writer("results.log");
    writer.stream() << "new\n";
    _exit(writer.commit() ? 0 : 1);
  }
  close(dir);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot become nobody";
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_NE(groupOf(folder / "results.log"), 0u);
  EXPECT_EQ(permissions(folder / "results.log"), 0644u);
}

// An ACL as the kernel takes it in a system.posix_acl_* attribute: version 2, then entries
// {tag, permissions, id} sorted by tag, little-endian.
std::string rawAcl(std::initializer_list<std::array<std::uint32_t, 3>> entries) {
  std::string raw;
  const auto put = [&raw](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) raw += static_cast<char>(value >> 8 * i & 0xff);
  };
  put(2, 4);
  for (const auto& [tag, perm, id] : entries) put(tag, 2), put(perm, 2), put(id, 4);
  return raw;
}

std::string accessAcl(const fs::path& path) {
  std::string raw(256, '\0');
  const ssize_t size = getxattr(path.c_str(), "system.posix_acl_access", raw.data(), raw.size());
  EXPECT_GT(size, 0) << path << ": " << std::strerror(errno);
  raw.resize(size > 0 ? static_cast<size_t>(size) : 0);
  return raw;
}

// A folder's default ACL, not the umask, decides what a new file there lets others do; a first
// file gets what any other new file there gets, its named users their write permission with it.
TEST(AtomicFileWriterTest, AFirstFileGetsWhatTheFolderGivesAnyNewFile) {
  const fs::path folder = fs::current_path() / "atomic-default-acl";
  fs::remove_all(folder), fs::create_directories(folder);
  const std::uint32_t none = ~0u;  // the id of entries that name nobody
  const std::string acl = rawAcl(
      {{0x01, 7, none}, {0x02, 7, 65534}, {0x04, 7, none}, {0x10, 7, none}, {0x20, 5, none}});
  if (setxattr(folder.c_str(), "system.posix_acl_default", acl.data(), acl.size(), 0) != 0) {
    ASSERT_TRUE(errno == ENOTSUP || errno == EOPNOTSUPP) << std::strerror(errno);
    GTEST_SKIP() << "no ACLs on this file system";
  }
  const mode_t mask = umask(022);
  close(open((folder / "plain.log").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0666));
  AtomicFileWriter writer((folder / "results.log").string());
  writer.stream() << "new\n";
  EXPECT_TRUE(writer.commit());
  umask(mask);
  EXPECT_EQ(permissions(folder / "results.log"), 0664u);
  EXPECT_EQ(accessAcl(folder / "results.log"), accessAcl(folder / "plain.log"));
}

// What a signal handler removes as it ends the process is the new file being written, and only
// that: once committed, the file is the target and stays.
TEST(AtomicFileWriterTest, ASignalHandlerRemovesOnlyAnUncommittedFile) {
  const fs::path folder = fs::current_path() / "atomic-signalled";
  fs::remove_all(folder), fs::create_directories(folder);
  const auto names = [&] {
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder)) found.push_back(entry.path().filename());
    return found;
  };
  AtomicFileWriter kept((folder / "kept.log").string());
  ASSERT_TRUE(kept.commit());
  AtomicFileWriter cut((folder / "cut.log").string());
  EXPECT_EQ(names().size(), 2u);
  AtomicFileWriter::removeUncommitted();
  EXPECT_EQ(names(), std::vector<std::string>{"kept.log"});
  EXPECT_FALSE(cut.commit());
  AtomicFileWriter::removeUncommitted();
  EXPECT_EQ(names(), std::vector<std::string>{"kept.log"});
}

}  // namespace
