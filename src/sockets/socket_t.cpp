#include "sockets/socket_t.h"

#include <sys/socket.h>

#include <cstring>

#include "sockets/local_win_socket.h"
#include "sockets/win_socket.h"

namespace {

// The any domain sends "localhost:" addresses and addresses without a port to the same-host
// transport; the host test is exact, so "LOCALHOST:n" still goes over TCP.
bool is_same_host(const char* address) {
  const char* colon = address != nullptr ? std::strchr(address, ':') : nullptr;
  return colon == nullptr || (colon - address == 9 && std::strncmp(address, "localhost", 9) == 0);
}

}  // namespace

socket_t* socket_t::connect(const char* address, socket_domain domain, int max_attempts,
                            time_t timeout) {
  if (domain == sock_local_domain || (domain == sock_any_domain && is_same_host(address))) {
    return new local_win_socket();
  }
  auto* socket = new win_socket(address);
  socket->connect(max_attempts, timeout);
  return socket;
}

socket_t* socket_t::create_global(const char* address, int listen_queue_size) {
  auto* socket = new win_socket(address);
  socket->open(listen_queue_size, SOCK_STREAM, 0);
  return socket;
}

socket_t* socket_t::create_local(const char*, int) { return new local_win_socket(); }

socket_t* socket_t::create_dgram(const char* address, int broadcast) {
  auto* socket = new win_socket(address);
  socket->open(0, SOCK_DGRAM, broadcast);
  return socket;
}
