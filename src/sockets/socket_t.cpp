#include "sockets/socket_t.h"

#include <sys/socket.h>

#include <cstdio>
#include <cstring>
#include <utility>

#include "sockets/local_win_socket.h"
#include "sockets/win_socket.h"

namespace {

// The any domain sends "localhost:" addresses and addresses without a port to the same-host
// transport; the host test is exact, so "LOCALHOST:n" still goes over TCP.
bool is_same_host(const char* address) {
  const char* colon = address != nullptr ? std::strchr(address, ':') : nullptr;
  return colon == nullptr || (colon - address == 9 && std::strncmp(address, "localhost", 9) == 0);
}

// The system's text for an error number, or ours when it has none.
const char* system_error_text(int code, char* buf, size_t size) {
  if (code > 0) {
    // strerror_r comes in an XSI form returning int and a GNU form returning the text.
    struct pick {
      const char* operator()(int rc, const char* b) const { return rc == 0 ? b : nullptr; }
      const char* operator()(const char* text, const char*) const { return text; }
    };
    const char* text = pick{}(strerror_r(code, buf, size), buf);
    if (text != nullptr && std::strncmp(text, "Unknown error", 13) != 0) {
      return text;
    }
  }
  std::snprintf(buf, size, "unknown error code %u", static_cast<unsigned>(code));
  return buf;
}

}  // namespace

void socket_t::copy_error_text(const char* text, int code, char* buf, size_t buf_size) const {
  char system_text[256];
  if (text == nullptr && code == peer_idle) {
    std::snprintf(system_text, sizeof system_text, "the peer took no data for %lld seconds",
                  static_cast<long long>(policy.idle_seconds));
    text = system_text;
  } else if (text == nullptr && code == wait_stopped) {
    std::snprintf(system_text, sizeof system_text, "%s while waiting for the peer", stop_reason);
    text = system_text;
  } else if (text == nullptr) {
    text = system_error_text(code, system_text, sizeof system_text);
  }
  if (buf_size > 0) {
    std::snprintf(buf, buf_size, "%s", text);
  }
}

int socket_t::stop_requested() {
  const char* reason = policy.stop ? policy.stop() : nullptr;
  if (reason == nullptr) {
    return 0;
  }
  stop_reason = reason;
  return wait_stopped;
}

void socket_t::announce_waiting() {
  if (!waiting_announced && policy.waiting) {
    policy.waiting();
  }
  waiting_announced = true;
}

socket_t* socket_t::connect(const char* address, socket_domain domain, int max_attempts,
                            time_t timeout, wait_policy policy) {
  if (domain == sock_local_domain || (domain == sock_any_domain && is_same_host(address))) {
    auto* socket = new local_win_socket(address);
    socket->policy = std::move(policy);
    socket->connect(max_attempts, timeout);
    return socket;
  }
  auto* socket = new win_socket(address);
  socket->policy = std::move(policy);
  socket->connect(max_attempts, timeout);
  return socket;
}

socket_t* socket_t::create_global(const char* address, int listen_queue_size) {
  auto* socket = new win_socket(address);
  socket->open(listen_queue_size, SOCK_STREAM, 0);
  return socket;
}

socket_t* socket_t::create_local(const char* address, int listen_queue_size) {
  auto* socket = new local_win_socket(address);
  socket->open(listen_queue_size);
  return socket;
}

socket_t* socket_t::create_dgram(const char* address, int broadcast) {
  auto* socket = new win_socket(address);
  socket->open(0, SOCK_DGRAM, broadcast);
  return socket;
}
