#include "core/AtomicFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include "core/FreshBits.h"

namespace {

// Eight letters and digits no other process can foretell. A name taken already is merely tried
// again with the next.
std::string uniqueSuffix() {
  std::uint64_t z = freshBits();
  static const char digits[] = "abcdefghijklmnopqrstuvwxyz012345";
  std::string suffix(8, ' ');
  for (char& c : suffix) c = digits[z & 31], z >>= 5;
  return suffix;
}

// The new file being written, for a signal handler that ends the process: the path is valid only
// while `uncommittedSet` is, and the flag is cleared before the path changes.
char uncommittedPath[4096];
volatile std::sig_atomic_t uncommittedSet = 0;

void noteUncommitted(const std::string& temporary) {
  uncommittedSet = 0;
  if (temporary.empty() || temporary.size() >= sizeof uncommittedPath) return;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  std::memcpy(uncommittedPath, temporary.c_str(), temporary.size() + 1);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  uncommittedSet = 1;
}

}  // namespace

void AtomicFileWriter::removeUncommitted() {
  if (uncommittedSet != 0) ::unlink(uncommittedPath);
}

AtomicFileWriter::AtomicFileWriter(std::string target) : path(std::move(target)) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = path.substr(folder.size());
  // Private while it is written when it replaces a file, for that one may be, and what others
  // open now they keep whatever the mode becomes later. A first file is created as any other, so
  // that the umask or the folder's default ACL decides: no mode set afterwards can do as they do.
  struct stat previous {};
  const bool replaces = ::lstat(path.c_str(), &previous) == 0 && S_ISREG(previous.st_mode);
  // Hidden, and named after the target, so that one left by a killed process is recognised.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = folder + "." + name + "." + uniqueSuffix();
    if (file.open(candidate, O_CREAT | O_EXCL | O_NOFOLLOW, replaces ? 0600 : 0666)) {
      temporary = candidate;
      noteUncommitted(temporary);
      return;
    }
    if (file.error() != EEXIST) break;
  }
  failure = file.error();
}

AtomicFileWriter::~AtomicFileWriter() {
  file.close();
  if (!temporary.empty()) ::unlink(temporary.c_str());
  noteUncommitted("");
}

bool AtomicFileWriter::commit() {
  if (temporary.empty()) return false;
  if (!keepPermissions()) failure = errno;
  const bool synced = failure == 0 && file.syncToDisk();
  if (!file.close() || !synced) {
    if (failure == 0) failure = file.error();
  } else if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    failure = errno;
  } else {
    temporary.clear();
    noteUncommitted("");
    return true;
  }
  ::unlink(temporary.c_str());
  temporary.clear();
  noteUncommitted("");
  return false;
}

bool AtomicFileWriter::keepPermissions() {
  // The new file lets others do what the old one let them: a private file stays private, and the
  // group it let read keeps it. A link at the name passes nothing on, and one removed while the
  // new file was written leaves that as it was created: private, the safer guess.
  struct stat previous {};
  if (::lstat(path.c_str(), &previous) != 0 || !S_ISREG(previous.st_mode)) return true;
  mode_t mode = previous.st_mode & 0777;
  // The group the new file has instead must not be let do less than everybody.
  if (!file.setGroup(previous.st_gid)) mode = (mode & 0707) | (mode & 07) << 3;
  return file.setPermissions(mode);
}

std::string AtomicFileWriter::error() const { return failure == 0 ? "" : std::strerror(failure); }
