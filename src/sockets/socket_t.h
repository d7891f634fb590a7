#pragma once

#include <atomic>
#include <cstddef>
#include <ctime>
#include <functional>

// Bounds the waits of a connect and of a write, which have no time-out of their own, so that a
// peer that stops reading or never answers cannot hold the caller for good.
struct socket_wait_policy {
  // A write gives up once the peer has taken no data for this many seconds; -1: never.
  time_t idle_seconds = -1;
  // Asked several times a second while a connect or a write waits: a reason, which must outlive
  // the socket, calls the wait off and goes into the error text; null lets it go on.
  std::function<const char*()> stop;
  // Called once by a connect whose first attempt found no server (the same-host transport's first
  // timeout seconds), as it goes on waiting for one.
  std::function<void()> waiting;
};

// A byte-stream connection behind one interface, whatever carries it. Nothing throws: operations
// return a bool, a byte count (-1 on failure) or a pointer (null on failure) and keep their error
// code in the object for is_ok() and get_error_text(). The factories always return an object,
// owned by the caller, who tests is_ok() and deletes it.
class socket_t {
 public:
  enum socket_domain {
    sock_any_domain = 0,     // same-host transport for "localhost:" and addresses without ':'
    sock_local_domain = 1,   // same-host transport
    sock_global_domain = 2,  // TCP
  };

  enum socket_state { ss_open = 0, ss_shutdown = 1, ss_close = 2 };

  // Error codes that every transport shares, apart from the codes of its own.
  enum wait_codes {
    peer_idle = -20,     // a write found the peer taking no data for wait_policy::idle_seconds
    wait_stopped = -21,  // wait_policy::stop called a wait off
  };

  using wait_policy = socket_wait_policy;
  // How long a wait sleeps at most before it asks its policy, or looks at its peer, again.
  static constexpr int wait_slice_ms = 50;

  // Reads until at least min_size bytes arrived, taking at most max_size. With a timeout in
  // seconds (-1 waits without limit) the whole read waits at most that long and then returns the
  // bytes read so far, possibly 0. Returns -1 on failure.
  virtual int read(void* buf, size_t min_size, size_t max_size, time_t timeout) = 0;
  // True when exactly size bytes were read.
  virtual bool read(void* buf, size_t size) = 0;
  // True when all bytes were written.
  virtual bool write(const void* buf, size_t size) = 0;
  // Datagrams; ip and port in host byte order.
  virtual bool sendto(int ip, int port, const void* buf, size_t size) = 0;
  virtual int recvfrom(int& ip, int& port, void* buf, size_t size) = 0;

  virtual bool is_ok() = 0;
  // The text of the last error, always NUL-terminated within buf_size.
  virtual void get_error_text(char* buf, size_t buf_size) = 0;

  // A new connected socket owned by the caller, or null.
  virtual socket_t* accept() = 0;
  // Called from another thread: wakes a thread blocked in accept(), which then returns null.
  virtual bool cancel_accept() = 0;
  virtual bool shutdown() = 0;
  virtual bool close() = 0;

  virtual ~socket_t() = default;

  // Client connection; while the server refuses, up to max_attempts attempts, timeout seconds
  // apart. The socket keeps the policy for its later writes.
  static socket_t* connect(const char* address, socket_domain domain, int max_attempts,
                           time_t timeout, wait_policy policy = {});
  // TCP listener on every local interface; only the port of "host:port" is used.
  static socket_t* create_global(const char* address, int listen_queue_size);
  // Listener of the same-host transport.
  static socket_t* create_local(const char* address, int listen_queue_size);
  // Datagram socket bound to the port of address (unbound when address is null).
  static socket_t* create_dgram(const char* address, int broadcast);
  // IPv4 address of a dotted address or host name in host byte order, -1 when unknown.
  static int get_ip(const char* name);

 protected:
  socket_t() = default;
  socket_t(const socket_t&) = delete;
  socket_t& operator=(const socket_t&) = delete;

  // Writes text, or the text of a wait code, or else the system's text for code when text is
  // null, cut to buf_size and terminated.
  void copy_error_text(const char* text, int code, char* buf, size_t buf_size) const;

  // wait_stopped when the policy calls the wait off now, keeping its reason; else 0.
  int stop_requested();
  // Tells the policy, once per connect, that the first attempt failed and the waiting begins.
  void announce_waiting();

  wait_policy policy;
  const char* stop_reason = "";
  bool waiting_announced = false;

  // Written by cancel_accept() while another thread may be blocked in accept().
  std::atomic<socket_state> state{ss_close};
};

// "hostname:pid" with the process id in lower-case hexadecimal, in a process-wide buffer.
const char* get_process_name();
