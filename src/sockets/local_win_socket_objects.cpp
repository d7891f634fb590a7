// The shared-memory objects of the same-host transport: their names, their vetting, and how they
// are made whole under a temporary name before they appear under their own.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sockets/local_win_socket.h"
#include "sockets/mapping_guard.h"

namespace {

constexpr int kInstallTries = 100;
constexpr mode_t kPrivate = S_IRUSR | S_IWUSR;
constexpr const char* kFolder = "/dev/shm";

}  // namespace

std::string local_win_socket::object_path(const char* suffix) const {
  static const char hex[] = "0123456789ABCDEF";
  const std::string prefix = "vudi." + std::to_string(getuid());
  std::string name = prefix + '.';
  uint64_t hash = 14695981039346656037ull;
  for (const char* p = Name; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    hash = (hash ^ c) * 1099511628211ull;
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
        c == '-') {
      name += static_cast<char>(c);
    } else {
      name += {'_', hex[c >> 4], hex[c & 15]};
    }
  }
  // The longest of the names must fit one file name.
  if (name.size() + std::strlen(".hs") > NAME_MAX) {
    char text[20];
    std::snprintf(text, sizeof text, "~%016llx", static_cast<unsigned long long>(hash));
    name = prefix + text;
  }
  return std::string(kFolder) + '/' + name + suffix;
}

int local_win_socket::vet(const struct stat& about, size_t size) {
  if (about.st_uid != geteuid()) {
    Refused = about.st_uid;
    return foreign_owner;
  }
  if ((about.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    Refused = about.st_mode & 07777;
    return open_to_others;
  }
  // Touching a mapping beyond the object's end raises SIGBUS, so a short object counts as absent.
  return about.st_size < static_cast<off_t>(size) ? broken_pipe : ok;
}

int local_win_socket::vet_failed_open(const std::string& path, int error) {
  struct stat about {};
  const int rc = lstat(path.c_str(), &about) == 0 ? vet(about, 0) : ok;
  return rc != ok ? rc : error;
}

int local_win_socket::map(int fd, size_t size, mapping& out) {
  void* mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (mapped == MAP_FAILED) {
    return errno;
  }
  const int guard = mapping_guard::add(mapped, size);
  if (guard < 0) {
    munmap(mapped, size);
    return EMFILE;
  }
  out = {static_cast<shm_area*>(mapped), size, guard};
  return ok;
}

void local_win_socket::unmap(mapping& m) {
  if (m.area != nullptr) {
    mapping_guard::remove(m.guard);
    munmap(m.area, m.size);
  }
  m = {};
}

int local_win_socket::open_object(const std::string& path, size_t size, mapping& out) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return errno == ENOENT ? broken_pipe : vet_failed_open(path, errno);
  }
  struct stat about {};
  int rc = fstat(fd, &about) != 0 ? errno : vet(about, size);
  if (rc == ok) {
    rc = map(fd, size, out);
  }
  ::close(fd);
  // A segment shrunk meanwhile reads as zeros, so as not ready.
  if (rc == ok && out.area->ready.load(std::memory_order_acquire) != ready_mark) {
    unmap(out);
    rc = broken_pipe;
  }
  return rc;
}

int local_win_socket::create_object(const std::string& path, size_t size, mapping& out, int* lock) {
  std::string temp = std::string(kFolder) + "/vudi." + std::to_string(getuid()) + ".XXXXXX.new";
  const int fd = mkostemps(temp.data(), 4, O_CLOEXEC);
  if (fd < 0) {
    return errno;
  }
  // The mode is set again: the umask may have taken bits from the one the file was made with.
  const bool made = fchmod(fd, kPrivate) == 0 && ftruncate(fd, static_cast<off_t>(size)) == 0 &&
                    flock(fd, LOCK_EX | LOCK_NB) == 0;
  struct stat about {};
  int rc = !made ? errno : fstat(fd, &about) != 0 ? errno : vet(about, size);
  if (rc == ok) {
    rc = map(fd, size, out);
  }
  if (rc == ok) {
    out.area->creator = getpid();
    out.area->ready.store(ready_mark, std::memory_order_release);
    rc = install(temp, path);
    if (rc != ok) {
      unmap(out);
    }
  }
  unlink(temp.c_str());
  if (rc == ok && lock != nullptr) {
    *lock = fd;
  } else {
    ::close(fd);
  }
  return rc;
}

int local_win_socket::install(const std::string& temp, const std::string& path) {
  for (int tries = 0; tries < kInstallTries; ++tries) {
    if (link(temp.c_str(), path.c_str()) == 0) {
      return ok;
    }
    if (errno != EEXIST) {
      return errno;
    }
    const int held = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (held < 0) {
      if (errno == ENOENT) {
        continue;  // gone meanwhile
      }
      return vet_failed_open(path, errno);
    }
    // A live listener holds the lock of its object. Whoever takes over a leftover holds its lock
    // meanwhile, and removes it only while the name still shows it: of several processes taking
    // it at once, one removes it and links its own, the others find that one locked.
    struct stat about {
    }, named{};
    int rc = fstat(held, &about) != 0 ? errno : vet(about, 0);
    if (rc == ok && flock(held, LOCK_EX | LOCK_NB) != 0) {
      rc = errno == EWOULDBLOCK ? EADDRINUSE : errno;
    }
    if (rc == ok && lstat(path.c_str(), &named) == 0 && named.st_ino == about.st_ino &&
        named.st_dev == about.st_dev && unlink(path.c_str()) != 0) {
      rc = errno;
    }
    ::close(held);
    if (rc != ok) {
      return rc;
    }
  }
  return EADDRINUSE;
}
