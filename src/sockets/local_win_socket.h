#pragma once

#include "sockets/socket_t.h"

// The same-host transport. It is not available in this build: every object reports so through
// is_ok() and get_error_text(), and every operation fails.
class local_win_socket : public socket_t {
 public:
  local_win_socket() = default;

  int read(void* buf, size_t min_size, size_t max_size, time_t timeout) override;
  bool read(void* buf, size_t size) override;
  bool write(const void* buf, size_t size) override;
  bool sendto(int ip, int port, const void* buf, size_t size) override;
  int recvfrom(int& ip, int& port, void* buf, size_t size) override;
  bool is_ok() override;
  void get_error_text(char* buf, size_t buf_size) override;
  socket_t* accept() override;
  bool cancel_accept() override;
  bool shutdown() override;
  bool close() override;
};
