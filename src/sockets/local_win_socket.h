#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
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
  struct shm_event;
  struct shm_area;

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
  // ok when the object is this user's alone and at least size bytes long; else why not.
  int vet(const struct stat& about, size_t size);
  // vet() of what lies at path, after an open that failed with error.
  int vet_failed_open(const std::string& path, int error);
  // Maps the object at path, made by a process of this user; broken_pipe while there is none.
  int open_object(const std::string& path, size_t size, shm_area*& area);
  // A new object at path owned by this process, locked while *lock stays open (closed when null).
  int create_object(const std::string& path, size_t size, shm_area*& area, int* lock);
  // Puts the object at temp in place at path, when path is free or left over by a dead process.
  int install(const std::string& temp, const std::string& path);
  // Maps the segment: the events as this side sees them, and the rings when it is a connection.
  void attach(shm_area* area, size_t size, int side);
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
  template <typename Ready>
  int wait_for(int signal, socket_state expected, int64_t deadline, Ready ready);
  int64_t receive(char* buf, size_t min_size, size_t max_size, int64_t deadline);
  int handshake(int64_t deadline);
  // Ends the connection for both sides on ring positions that cannot be.
  int break_connection();
  std::string object_path(const char* suffix) const;

  shm_event* Signal[4] = {};     // indexed by socket_signals
  shm_area* Area = nullptr;      // the mapped segment
  size_t AreaSize = 0;
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
