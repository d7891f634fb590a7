#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "sockets/socket_t.h"

// Stream connection between two processes of one machine through shared memory: two rings, one
// per direction, and four auto-reset events for waking the other side. A listener named by an
// address hands each client a connection segment of its own; a side notices when its peer has
// closed or died and reports "connection is broken". Only processes of one user meet: an object
// of another user, or one that others may open, is refused.
class local_win_socket : public socket_t {
 public:
  enum error_codes {
    ok = 0,
    not_opened = -1,
    broken_pipe = -2,
    timeout_expired = -3,
    invalid_access_mode = -5,
    message_truncated = -6,
    foreign_owner = -7,   // a shared object of another user
    open_to_others = -8,  // a shared object of ours that grants group or others access
  };
  // The events as each side sees them: what one side signals as TD, the other waits on as RD,
  // and the reader's RTR is the writer's RTT.
  enum socket_signals { RD = 0, RTR = 1, TD = 2, RTT = 3 };

  // One direction of the stream, laid out in shared memory. Either side can write any of it, so
  // the positions are checked before every copy.
  struct socket_buf {
    static constexpr int32_t size = 8176;
    std::atomic<int32_t> RcvWaitFlag;  // the reader waits for data
    std::atomic<int32_t> SndWaitFlag;  // the writer waits for space
    std::atomic<int32_t> DataEnd;      // written by the writer only, 0 .. size - 1
    std::atomic<int32_t> DataBeg;      // written by the reader only, 0 .. size - 1
    char Data[size];
  };
  // Auto-reset event: a word of the shared segment, waited on and woken as a futex.
  struct shm_event {
    std::atomic<uint32_t> pending;
    // Only a change from none to one pending signal can find a sleeper to wake.
    void signal();
    // 0 when a signal was taken, ETIMEDOUT when none came by the deadline, else the error.
    int wait(int64_t deadline);
  };
  // Progress of a handshake, kept in the listener's segment.
  enum handshake_phase : int32_t { idle, offered, claiming, claimed, segment_ready, acknowledged };
  // A listener's segment, or, with its rings, a connection's. A fresh one is zero-filled: every
  // word idle, every event without a signal.
  struct shm_area {
    std::atomic<int32_t> ready;
    std::atomic<int32_t> closed[2];  // set by each side's close() or shutdown()
    int32_t creator;                 // process id of the listener, or of the connection's server
    std::atomic<int32_t> phase;      // listener: handshake_phase
    std::atomic<int32_t> client;     // listener: process id of the client in the handshake
    shm_event events[4];             // as the creator sees them; the other side crosses them
    alignas(64) socket_buf bufs[2];  // connection: the server reads [0], the client [1]
  };
  static constexpr size_t listener_size = offsetof(shm_area, bufs);
  static constexpr size_t connection_size = sizeof(shm_area);
  static constexpr int32_t ready_mark = 0x76756469;  // stored last by the creator of a segment

  // Not yet connected; the name (copied) is the address both sides use alike.
  explicit local_win_socket(const char* name);
  // The server's end of a connection, filled by accept().
  local_win_socket();
  ~local_win_socket() override;

  // Client side: waits up to max_attempts x timeout seconds (-1: no limit) for a listener.
  bool connect(int max_attempts, time_t timeout);
  // Server side: listens on the name; the queue size is not used.
  bool open(int listen_queue_size);

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
  template <typename T>
  T set_error(int code, T result) {
    Error = code;
    return result;
  }

  std::atomic<int> Error{not_opened};  // ok, one of error_codes, errno or a pthread result
  socket_buf* RcvBuf = nullptr;        // read by this side; null on a listener
  socket_buf* SndBuf = nullptr;        // written by this side

 private:
  // A mapped segment and the slot of mapping_guard that keeps a peer from killing this process by
  // shrinking it.
  struct mapping {
    shm_area* area = nullptr;
    size_t size = 0;
    int guard = -1;
  };
  // Maps size bytes of the object fd, guarded.
  static int map(int fd, size_t size, mapping& out);
  static void unmap(mapping& m);
  // ok when the object is this user's alone and at least size bytes long; else why not.
  int vet(const struct stat& about, size_t size);
  // vet() of what lies at path, after an open that failed with error.
  int vet_failed_open(const std::string& path, int error);
  // Maps the object at path, made by a process of this user; broken_pipe while there is none.
  int open_object(const std::string& path, size_t size, mapping& out);
  // A new object at path owned by this process, locked while *lock stays open (closed when null).
  int create_object(const std::string& path, size_t size, mapping& out, int* lock);
  // Puts the object at temp in place at path, when path is free or left over by a dead process.
  int install(const std::string& temp, const std::string& path);
  // Maps the segment: the events as this side sees them, and the rings when it is a connection.
  void attach(const mapping& m, int side);
  // Unmaps the segment; a connection or listener first tells its peers that it is gone.
  void release();
  // Sets this side's closed word and wakes a peer blocked on it.
  void wake_peer();
  // Wakes this side's own blocked read, write or accept.
  void wake_self();
  void watch(pid_t pid);
  bool peer_alive();
  // ok, or why the ring cannot be used now.
  int usable(const socket_buf* ring) const;
  // Whether the peer shrank the segment, which this side then sees as zeros.
  bool shrunk() const;
  // Waits until ready() or the peer's end, by the deadline; a stoppable wait also until the policy
  // calls it off.
  template <typename Ready>
  int wait_for(int signal, socket_state expected, int64_t deadline, bool stoppable, Ready ready);
  int64_t receive(char* buf, size_t min_size, size_t max_size, int64_t deadline);
  int handshake(int64_t deadline);
  // Ends the connection for both sides on ring positions that cannot be.
  int break_connection();
  std::string object_path(const char* suffix) const;

  shm_event* Signal[4] = {};     // indexed by socket_signals
  shm_area* Area = nullptr;      // the mapped segment
  mapping Mapped;                // Area with its size and guard
  int Side = 0;                  // 0: the server's end or the listener, 1: the client's end
  bool Owner = false;            // a listener that unlinks its name when it closes
  int NameLock = -1;             // a listener's own object, locked for as long as it listens
  bool Broken = false;           // sticky once the ring's positions were impossible
  unsigned Refused = 0;          // the owner behind foreign_owner, the mode behind open_to_others
  pid_t PeerPid = 0;             // 0 while there is no peer to watch
  int PeerFd = -1;               // pidfd of the peer, -1 where there is none
  bool PeerDead = false;         // sticky once seen
  char* Name = nullptr;
};
