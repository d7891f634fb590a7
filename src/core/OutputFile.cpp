#include "core/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

OutputFile::OutputFile() : std::ostream(nullptr) {
  rdbuf(&buffer);
  setstate(badbit);  // nothing to write to before an open
}

OutputFile::~OutputFile() { close(); }

bool OutputFile::open(const std::string& path, int flags, mode_t mode) {
  close();
  buffer.error = 0;
  buffer.restart();
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_WRONLY | O_CLOEXEC | O_NONBLOCK, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    buffer.error = errno;
    return false;
  }
  struct stat status {};
  const int refused = ::fstat(fd, &status) != 0  ? errno
                      : !S_ISREG(status.st_mode) ? NOT_REGULAR
                                                 : 0;
  if (refused != 0) {
    buffer.error = refused;
    ::close(fd);
    return false;
  }
  // Writes to a regular file block as they always do; the flag was only for the open.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  buffer.fd = fd;
  clear();
  return true;
}

bool OutputFile::setPermissions(mode_t mode) { return is_open() && ::fchmod(buffer.fd, mode) == 0; }

bool OutputFile::setGroup(gid_t group) {
  return is_open() && ::fchown(buffer.fd, static_cast<uid_t>(-1), group) == 0;
}

bool OutputFile::syncToDisk() {
  if (!is_open()) return false;
  if (buffer.drain() && ::fsync(buffer.fd) != 0) buffer.fail(errno);
  return buffer.error == 0;
}

bool OutputFile::close() {
  if (!is_open()) return false;
  buffer.drain();
  // Some file systems report a failed write only here; the descriptor is gone whatever it says,
  // so it is not closed again after an interrupt.
  if (::close(buffer.fd) != 0) buffer.fail(errno);
  buffer.fd = -1;
  setstate(badbit);
  return buffer.error == 0;
}

bool OutputFile::Buffer::drain() {
  const char* next = pbase();
  while (next < pptr() && error == 0) {
    const ssize_t written = ::write(fd, next, static_cast<size_t>(pptr() - next));
    if (written > 0) {
      next += written;
    } else if (written < 0 && errno != EINTR) {
      fail(errno);
    } else if (written == 0) {
      fail(EIO);  // no progress and no reason given: never loop on it
    }
  }
  restart();
  return error == 0;
}

void OutputFile::Buffer::fail(int code) {
  if (error != 0) return;
  error = code;
  if (notice) notice(code);
}

OutputFile::Buffer::int_type OutputFile::Buffer::overflow(int_type c) {
  if (fd < 0 || !drain()) return traits_type::eof();
  if (!traits_type::eq_int_type(c, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
  }
  return traits_type::not_eof(c);
}

int OutputFile::Buffer::sync() { return fd >= 0 && drain() ? 0 : -1; }
