#include "core/OutputFile.h"

#include <fcntl.h>
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
    fd = ::open(path.c_str(), flags | O_WRONLY | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    buffer.error = errno;
    return false;
  }
  buffer.fd = fd;
  clear();
  return true;
}

bool OutputFile::syncToDisk() {
  if (!is_open()) return false;
  if (buffer.drain() && ::fsync(buffer.fd) != 0 && buffer.error == 0) buffer.error = errno;
  return buffer.error == 0;
}

bool OutputFile::close() {
  if (!is_open()) return false;
  buffer.drain();
  // Some file systems report a failed write only here; the descriptor is gone whatever it says,
  // so it is not closed again after an interrupt.
  if (::close(buffer.fd) != 0 && buffer.error == 0) buffer.error = errno;
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
      error = errno;
    } else if (written == 0) {
      error = EIO;  // no progress and no reason given: never loop on it
    }
  }
  restart();
  return error == 0;
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
