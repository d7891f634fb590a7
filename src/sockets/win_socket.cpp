#include "sockets/win_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/Assert.h"
#include "sockets/task.h"

namespace {

// Longest wait we compute with, so that deadlines never overflow the clock.
constexpr time_t kMaxWaitSeconds = 100000000;

// Repeats a system call that was interrupted by a signal.
template <typename Call>
auto retry(Call call) {
  decltype(call()) rc;
  do {
    rc = call();
  } while (rc < 0 && errno == EINTR);
  return rc;
}

// The port after the first ':': decimal digits only, 0 to 65535.
bool parse_port(const char* address, in_port_t& port) {
  const char* p = std::strchr(address, ':');
  if (p == nullptr || *++p == '\0') {
    return false;
  }
  unsigned long value = 0;
  for (; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') {
      return false;
    }
    value = value * 10 + static_cast<unsigned long>(*p - '0');
    if (value > 65535) {
      return false;
    }
  }
  port = htons(static_cast<std::uint16_t>(value));
  return true;
}

// IPv4 address of a host name or dotted address.
bool resolve(const char* host, in_addr& result) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) {
    return false;
  }
  result = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
  freeaddrinfo(found);
  return true;
}

// Repeats io(bytes done so far) until size bytes went through; ok, broken_pipe or errno.
template <typename Io>
int move_all(size_t size, Io io) {
  for (size_t done = 0; done < size;) {
    ssize_t n = retry([&] { return io(done); });
    if (n <= 0) {
      return n == 0 ? win_socket::broken_pipe : errno;
    }
    done += static_cast<size_t>(n);
  }
  return win_socket::ok;
}

bool set_option(int fd, int level, int name, int value) {
  return setsockopt(fd, level, name, &value, sizeof value) == 0;
}

}  // namespace

win_socket::win_socket(const char* address)
    : address(address != nullptr ? strdup(address) : nullptr) {}

win_socket::win_socket(int handle) : s(handle) { state = ss_open; }

win_socket::~win_socket() {
  close_handle();
  std::free(address);
}

int win_socket::wait_ready(int fd, short events, Clock::time_point deadline, bool stoppable) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      return ETIMEDOUT;
    }
    // A wait that may be called off asks its policy between slices.
    const auto slice = stoppable && policy.stop ? std::min<decltype(left)>(left, wait_slice_ms)
                                                : std::min<decltype(left)>(left, INT_MAX);
    pollfd watched{fd, events, 0};
    const int rc = poll(&watched, 1, static_cast<int>(slice));
    if (rc > 0) {
      return 0;
    }
    if (rc < 0 && errno != EINTR) {
      return errno;
    }
    if (const int stop = stoppable ? stop_requested() : 0; stop != 0) {
      return stop;
    }
  }
}

int win_socket::connect_to(int fd, const sockaddr_in& peer, time_t pause,
                           Clock::time_point deadline) {
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
    return 0;
  }
  if (errno != EINPROGRESS && errno != EINTR) {
    return errno;
  }
  // Under way in the background: its outcome is awaited for no longer than the whole connect, and
  // a server that has not answered within a pause is waited for as one that refuses.
  int rc =
      wait_ready(fd, POLLOUT, std::min(deadline, Clock::now() + std::chrono::seconds(pause)), true);
  if (rc == ETIMEDOUT && Clock::now() < deadline) {
    announce_waiting();
    rc = wait_ready(fd, POLLOUT, deadline, true);
  }
  if (rc != 0) {
    return rc;
  }
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
    return errno;
  }
  return error;
}

template <typename T>
T win_socket::set_errno(T result) {
  errcode = errno;
  return result;
}

int win_socket::close_handle() {
  int fd = s.exchange(-1);
  // The handle is gone even when close is interrupted, so that is no failure.
  if (fd < 0 || ::close(fd) == 0 || errno == EINTR) {
    return ok;
  }
  return errno;
}

bool win_socket::connect(int max_attempts, time_t timeout) {
  KERNEL_ASSERT(address != NULL);
  if (state != ss_close) {
    close();
  }
  const char* colon = std::strchr(address, ':');
  char host[256];
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  if (colon == nullptr || static_cast<size_t>(colon - address) >= sizeof host) {
    return set_error(bad_address, false);
  }
  std::memcpy(host, address, static_cast<size_t>(colon - address));
  host[colon - address] = '\0';
  if (!parse_port(address, peer.sin_port) || !resolve(host, peer.sin_addr)) {
    return set_error(bad_address, false);
  }
  waiting_announced = false;
  // However the attempts go, the whole connect waits no longer than all its pauses, and at least
  // a second: an attempt that gets no answer at all must not hold it for the system's minutes.
  const time_t pause = std::clamp<time_t>(timeout, 0, kMaxWaitSeconds);
  const auto deadline = Clock::now() + std::chrono::seconds(std::clamp<int64_t>(
                                           int64_t{max_attempts} * pause, 1, kMaxWaitSeconds));
  for (int attempt = 1;; ++attempt) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
      return set_errno(false);
    }
    int error = connect_to(fd, peer, pause, deadline);
    if (error == 0 && (!set_option(fd, IPPROTO_TCP, TCP_NODELAY, 1) ||
                       fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)) {
      error = errno;
    }
    if (error == 0) {
      s = fd;
      errcode = ok;
      state = ss_open;
      return true;
    }
    ::close(fd);
    if (error != ECONNREFUSED) {
      return set_error(error, false);
    }
    if (attempt >= max_attempts) {
      return set_error(connection_failed, false);
    }
    announce_waiting();
    // The pause is a wait that nothing ends early but the policy.
    const int rc = wait_ready(-1, 0, Clock::now() + std::chrono::seconds(pause), true);
    if (rc != ETIMEDOUT) {
      return set_error(rc, false);
    }
  }
}

bool win_socket::open(int listen_queue_size, int socket_type, int broadcast) {
  if (state != ss_close) {
    close();
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  // A listener needs its port; an unbound datagram socket can still send.
  if (address == nullptr ? socket_type == SOCK_STREAM : !parse_port(address, local.sin_port)) {
    return set_error(bad_address, false);
  }
  int fd = ::socket(AF_INET, socket_type | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return set_errno(false);
  }
  bool done = set_option(fd, SOL_SOCKET, SO_REUSEADDR, 1) &&
              (broadcast == 0 || set_option(fd, SOL_SOCKET, SO_BROADCAST, 1)) &&
              (address == nullptr ||
               bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0) &&
              (socket_type != SOCK_STREAM || listen(fd, listen_queue_size) == 0);
  if (!done) {
    int error = errno;
    ::close(fd);
    return set_error(error, false);
  }
  s = fd;
  errcode = ok;
  state = ss_open;
  return true;
}

int win_socket::read(void* buf, size_t min_size, size_t max_size, time_t timeout) {
  if (state != ss_open) {
    return set_error(not_opened, -1);
  }
  // The count must fit the result, and asking for more than may be taken cannot be met.
  max_size = std::min<size_t>(max_size, INT_MAX);
  min_size = std::min(min_size, max_size);
  if (max_size == 0) {
    return 0;
  }
  const auto deadline = Clock::now() + std::chrono::seconds(std::min(timeout, kMaxWaitSeconds));
  char* data = static_cast<char*>(buf);
  size_t got = 0;
  do {
    if (timeout >= 0) {
      const int rc = wait_ready(s, POLLIN, deadline, false);
      if (rc == ETIMEDOUT) {
        return static_cast<int>(got);
      }
      if (rc != 0) {
        return set_error(rc, -1);
      }
    }
    ssize_t n = retry([&] { return recv(s, data + got, max_size - got, 0); });
    if (n < 0) {
      return set_errno(-1);
    }
    if (n == 0) {
      return set_error(broken_pipe, -1);
    }
    got += static_cast<size_t>(n);
  } while (got < min_size);
  return static_cast<int>(got);
}

bool win_socket::read(void* buf, size_t size) {
  if (state != ss_open) {
    return set_error(not_opened, false);
  }
  char* data = static_cast<char*>(buf);
  int error = move_all(size, [&](size_t done) { return recv(s, data + done, size - done, 0); });
  return error == ok || set_error(error, false);
}

bool win_socket::write(const void* buf, size_t size) {
  if (state != ss_open) {
    return set_error(not_opened, false);
  }
  const char* data = static_cast<const char*>(buf);
  const auto idle_until = [&] {
    const time_t idle = policy.idle_seconds;
    return Clock::now() +
           std::chrono::seconds(idle < 0 ? kMaxWaitSeconds : std::min(idle, kMaxWaitSeconds));
  };
  auto deadline = idle_until();
  for (size_t done = 0; done < size;) {
    // A peer that has gone must fail the send, not kill the process with SIGPIPE; a full buffer
    // is waited for here, where the wait can be bounded.
    const ssize_t n = send(s, data + done, size - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      done += static_cast<size_t>(n);
      deadline = idle_until();
      continue;
    }
    if (n == 0) {
      return set_error(broken_pipe, false);
    }
    if (errno == EINTR) {
      continue;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK) {
      return set_errno(false);
    }
    if (const int rc = wait_ready(s, POLLOUT, deadline, true); rc != 0) {
      return set_error(rc == ETIMEDOUT ? peer_idle : rc, false);
    }
  }
  return true;
}

bool win_socket::sendto(int ip, int port, const void* buf, size_t size) {
  if (state != ss_open) {
    return set_error(not_opened, false);
  }
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(static_cast<std::uint32_t>(ip));
  to.sin_port = htons(static_cast<std::uint16_t>(port));
  ssize_t n = retry([&] {
    return ::sendto(s, buf, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  });
  if (n < 0) {
    return set_errno(false);
  }
  bool whole = static_cast<size_t>(n) == size;
  return set_error(whole ? ok : message_truncated, whole);
}

int win_socket::recvfrom(int& ip, int& port, void* buf, size_t size) {
  if (state != ss_open) {
    return set_error(not_opened, 0);
  }
  sockaddr_in from{};
  socklen_t length = sizeof from;
  size = std::min<size_t>(size, INT_MAX);
  ssize_t n = retry([&] {
    return ::recvfrom(s, buf, size, 0, reinterpret_cast<sockaddr*>(&from), &length);
  });
  if (n < 0) {
    return set_errno(-1);
  }
  ip = static_cast<int>(ntohl(from.sin_addr.s_addr));
  port = ntohs(from.sin_port);
  return static_cast<int>(n);
}

bool win_socket::is_ok() { return errcode == ok; }

void win_socket::get_error_text(char* buf, size_t buf_size) {
  const int code = errcode;
  const char* text = nullptr;
  switch (code) {
    case ok: text = "ok"; break;
    case not_opened: text = "socket not opened"; break;
    case bad_address: text = "bad address"; break;
    case connection_failed: text = "exceed limit of attempts of connection to server"; break;
    case broken_pipe: text = "connection is broken"; break;
    case invalid_access_mode: text = "invalid access mode"; break;
    case message_truncated: text = "sent message was truncated"; break;
    default: break;
  }
  copy_error_text(text, code, buf, buf_size);
}

socket_t* win_socket::accept() {
  if (state != ss_open) {
    return set_error(not_opened, nullptr);
  }
  int fd;
  do {
    fd = accept4(s, nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR && state == ss_open);
  if (state != ss_open) {
    // Woken by cancel_accept(): whatever came in was only the wake-up call.
    if (fd >= 0) {
      ::close(fd);
    }
    return set_error(not_opened, nullptr);
  }
  if (fd < 0) {
    return set_errno(nullptr);
  }
  linger on_close{1, 10};
  if (setsockopt(fd, SOL_SOCKET, SO_LINGER, &on_close, sizeof on_close) != 0) {
    ::close(fd);
    return set_error(invalid_access_mode, nullptr);
  }
  if (!set_option(fd, IPPROTO_TCP, TCP_NODELAY, 1)) {
    int error = errno;
    ::close(fd);
    return set_error(error, nullptr);
  }
  errcode = ok;
  return new win_socket(fd);
}

bool win_socket::cancel_accept() {
  state = ss_shutdown;
  // A throw-away connection wakes a thread blocked in accept(). The listener is bound to every
  // interface, so the loopback address reaches it whatever host its address names.
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  if (getsockname(s, reinterpret_cast<sockaddr*>(&bound), &length) == 0 && bound.sin_port != 0) {
    char waker_address[32];
    std::snprintf(waker_address, sizeof waker_address, "127.0.0.1:%u", ntohs(bound.sin_port));
    win_socket waker(waker_address);
    waker.connect(1, 0);
  }
  // Shutting the listener down wakes accept() too, should that connection not get through.
  ::shutdown(s, SHUT_RDWR);
  state = ss_close;
  // The listener is closed now, and the thread woken from accept() reports the same.
  int error = close_handle();
  errcode = error != ok ? error : not_opened;
  return error == ok;
}

bool win_socket::shutdown() {
  if (state != ss_open) {
    return set_error(ok, true);
  }
  state = ss_shutdown;
  if (::shutdown(s, SHUT_RDWR) != 0) {
    return set_errno(false);
  }
  return set_error(ok, true);
}

bool win_socket::close() {
  if (state == ss_close) {
    return true;
  }
  state = ss_close;
  errcode = close_handle();
  return errcode == ok;
}

int socket_t::get_ip(const char* name) {
  in_addr found{};
  if (name == nullptr || (inet_aton(name, &found) == 0 && !resolve(name, found))) {
    return -1;
  }
  return static_cast<int>(ntohl(found.s_addr));
}

const char* get_process_name() {
  static char name[256 + 16];
  char host[256] = "";
  gethostname(host, sizeof host);
  host[sizeof host - 1] = '\0';
  std::snprintf(name, sizeof name, "%s:%x", host, static_cast<unsigned>(getpid()));
  return name;
}

// POSIX sockets need no start-up; the object stays so that the library starts and ends with the
// process, as on platforms whose socket service must be brought up first.
win_socket_library::win_socket_library() = default;
win_socket_library::~win_socket_library() = default;

static win_socket_library ws32_lib;
