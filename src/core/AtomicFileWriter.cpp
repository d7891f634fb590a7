#include "core/AtomicFileWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

// Eight letters and digits no other process can foretell: the clock's nanoseconds and the process
// id, mixed (splitmix64). A name taken already is merely tried again with the next.
std::string uniqueSuffix() {
  static uint64_t state = static_cast<uint64_t>(getpid()) << 32;
  state += static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) +
           0x9E3779B97F4A7C15u;
  uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  z ^= z >> 31;
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
    if (file.open(candidate, O_CREAT | O_EXCL | O_NOFOLLOW)) {
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
  const bool synced = file.syncToDisk();
  if (!file.close() || !synced) {
    failure = file.error();
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

std::string AtomicFileWriter::error() const { return failure == 0 ? "" : std::strerror(failure); }
