#include "core/AtomicFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

}  // namespace

AtomicFileWriter::AtomicFileWriter(std::string target) : path(std::move(target)) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string name = path.substr(folder.size());
  // Hidden, and named after the target, so that one left by a killed process is recognised.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = folder + "." + name + "." + uniqueSuffix();
    // Private while it is written: the file it replaces may be, and what others open now they
    // keep, whatever the mode becomes later.
    if (file.open(candidate, O_CREAT | O_EXCL | O_NOFOLLOW, 0600)) {
      temporary = candidate;
      return;
    }
    if (file.error() != EEXIST) break;
  }
  failure = file.error();
}

AtomicFileWriter::~AtomicFileWriter() {
  file.close();
  if (!temporary.empty()) ::unlink(temporary.c_str());
}

bool AtomicFileWriter::commit() {
  if (temporary.empty()) return false;
  if (!file.setPermissions(permissionsToKeep())) failure = errno;
  const bool synced = failure == 0 && file.syncToDisk();
  if (!file.close() || !synced) {
    if (failure == 0) failure = file.error();
  } else if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    failure = errno;
  } else {
    temporary.clear();
    return true;
  }
  ::unlink(temporary.c_str());
  temporary.clear();
  return false;
}

mode_t AtomicFileWriter::permissionsToKeep() {
  // The new file keeps what the old one let others do: a private file stays private, and the
  // group it let read keeps it, or else no group reads. A link at the name passes nothing on.
  struct stat previous {};
  if (::lstat(path.c_str(), &previous) == 0 && S_ISREG(previous.st_mode)) {
    mode_t mode = previous.st_mode & 0777;
    if (!file.setGroup(previous.st_gid)) mode &= ~static_cast<mode_t>(070);
    return mode;
  }
  // What any new file gets. The program runs on one thread, so reading the mask back is safe.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

std::string AtomicFileWriter::error() const { return failure == 0 ? "" : std::strerror(failure); }
