#pragma once

#include <netinet/in.h>

#include <chrono>

#include "sockets/socket_t.h"

// TCP (and UDP) transport on BSD sockets, IPv4 only.
class win_socket : public socket_t {
 public:
  // Codes of our own; any positive code is a system error number.
  enum error_codes {
    ok = 0,
    not_opened = -1,
    bad_address = -2,
    connection_failed = -3,
    broken_pipe = -4,
    invalid_access_mode = -5,
    message_truncated = -6,
  };

  // Not yet connected; address is "host:port" (copied) or null.
  explicit win_socket(const char* address);
  // Wraps an accepted connection.
  explicit win_socket(int handle);
  ~win_socket() override;

  // Client side: up to max_attempts attempts, timeout seconds apart, while the server refuses.
  bool connect(int max_attempts, time_t timeout);
  // Server side: a SOCK_STREAM listener or a SOCK_DGRAM socket on the port of the address.
  bool open(int listen_queue_size, int socket_type, int broadcast);

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

 protected:
  using Clock = std::chrono::steady_clock;

  // Waits until fd reports one of events (fd -1: until the deadline): 0, ETIMEDOUT when the
  // deadline passed, wait_stopped when the policy called a stoppable wait off, else errno.
  int wait_ready(int fd, short events, Clock::time_point deadline, bool stoppable);
  // Connects the non-blocking fd: 0, ECONNREFUSED, or why not by the deadline.
  int connect_to(int fd, const sockaddr_in& peer, time_t pause, Clock::time_point deadline);
  // Closes the handle and reports 0 or the system error number.
  int close_handle();
  // Record errno, or the code given, and return the result given.
  template <typename T>
  T set_errno(T result);
  template <typename T>
  T set_error(int code, T result) {
    errcode = code;
    return result;
  }

  std::atomic<int> s{-1};       // the socket handle, -1 until opened
  std::atomic<int> errcode{0};  // ok, one of error_codes, or a system error number
  char* address = nullptr;      // "host:port" as given (malloc'd), or null
};

// Starts and stops the socket service for the whole process; one static instance.
class win_socket_library {
 public:
  win_socket_library();
  ~win_socket_library();
  win_socket_library(const win_socket_library&) = delete;
  win_socket_library& operator=(const win_socket_library&) = delete;
};
