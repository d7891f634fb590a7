#include "sockets/local_win_socket.h"

#include <cstdio>

int local_win_socket::read(void*, size_t, size_t, time_t) { return -1; }

bool local_win_socket::read(void*, size_t) { return false; }

bool local_win_socket::write(const void*, size_t) { return false; }

bool local_win_socket::sendto(int, int, const void*, size_t) { return false; }

int local_win_socket::recvfrom(int&, int&, void*, size_t) { return -1; }

bool local_win_socket::is_ok() { return false; }

void local_win_socket::get_error_text(char* buf, size_t buf_size) {
  if (buf_size > 0) {
    std::snprintf(buf, buf_size, "%s", "same-host transport not available");
  }
}

socket_t* local_win_socket::accept() { return nullptr; }

bool local_win_socket::cancel_accept() { return true; }

bool local_win_socket::shutdown() { return true; }

bool local_win_socket::close() { return true; }
