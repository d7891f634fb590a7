// How this transport sits on Linux:
// - Named section: the shared-memory object "/vudi.<uid>.<address>.hs" of a listener, holding
//   its events and handshake words; the address keeps [A-Za-z0-9.-] and writes every other byte
//   as _XX, or becomes a 64-bit hash when the name would not fit a file name.
// - Private section and events of one connection: the object "<same>.c", which the server
//   creates for each handshake and unlinks as soon as the client has mapped it.
// - Auto-reset event: a 32-bit word in the segment, waited on and woken as a futex shared
//   between processes. It saturates at one pending signal and keeps no record of its waiters:
//   a waiter killed inside a process-shared condition variable can block a later signaller of
//   that variable for good, which a futex word cannot.
// - The peer's watchdog mutex: the peer's process watched through a pidfd (kill(pid, 0) where
//   there is none), and a "closed" word per side that close() and shutdown() set.
// - Waiting for an event or the peer's end: waits of 50 ms slices that look at the peer between
//   them; an orderly close signals at once, the slices only bound how fast a crash is noticed.
// - Error numbers and their texts: errno and strerror.
#include "sockets/local_win_socket.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <utility>

#include "sockets/task.h"

namespace {

constexpr int32_t kRingSize = 8176;
constexpr int32_t kReady = 0x76756469;  // stored last by the creator of a segment
constexpr int64_t kSliceMs = 50;
constexpr int kSpinMicros = 20;
constexpr int64_t kForever = INT64_MAX;
constexpr int64_t kMaxWaitSeconds = 100000000;
constexpr int kSettleTries = 10;  // slices granted to a listener that is setting its segment up
constexpr int kOpenTries = 20;

// Progress of a handshake, kept in the listener's segment.
enum handshake_phase : int32_t { idle, offered, claiming, claimed, segment_ready, acknowledged };

int64_t now_ms() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

long futex(std::atomic<uint32_t>& word, int op, uint32_t value, const timespec* until) {
  return syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), op, value, until, nullptr,
                 FUTEX_BITSET_MATCH_ANY);
}

// A descriptor that follows the process itself, not its id, which may be reused once it ends.
int pidfd_open(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }

// A process that has ended, reaped or not, makes its pidfd readable.
bool has_ended(int pidfd) {
  pollfd watched{pidfd, POLLIN, 0};
  return poll(&watched, 1, 0) > 0;
}

bool process_alive(pid_t pid) {
  const int fd = pidfd_open(pid);
  if (fd < 0) {
    return errno != ESRCH && (kill(pid, 0) == 0 || errno != ESRCH);
  }
  const bool alive = !has_ended(fd);
  ::close(fd);
  return alive;
}

}  // namespace

struct local_win_socket::socket_buf {
  std::atomic<int32_t> RcvWaitFlag;  // the reader waits for data
  std::atomic<int32_t> SndWaitFlag;  // the writer waits for space
  std::atomic<int32_t> DataEnd;      // written by the writer only
  std::atomic<int32_t> DataBeg;      // written by the reader only
  char Data[kRingSize];
};

struct local_win_socket::shm_event {
  std::atomic<uint32_t> pending;

  // Only a change from none to one pending signal can find a sleeper to wake.
  void signal() {
    if (pending.exchange(1) == 0) {
      futex(pending, FUTEX_WAKE, 1, nullptr);
    }
  }
  // 0 when a signal was taken, ETIMEDOUT when none came by the deadline, else the error.
  int wait(int64_t deadline) {
    const timespec until{static_cast<time_t>(deadline / 1000), deadline % 1000 * 1000000};
    while (pending.exchange(0) == 0) {
      if (futex(pending, FUTEX_WAIT_BITSET, 0, &until) != 0 && errno != EAGAIN && errno != EINTR) {
        return errno;
      }
    }
    return 0;
  }
};

// A fresh segment is zero-filled: every word idle, every event without a signal.
struct local_win_socket::shm_area {
  std::atomic<int32_t> ready;
  std::atomic<int32_t> closed[2];  // set by each side's close() or shutdown()
  int32_t creator;                 // process id of the listener, or of the connection's server
  std::atomic<int32_t> phase;      // listener: handshake_phase
  std::atomic<int32_t> client;     // listener: process id of the client in the handshake
  shm_event events[4];             // as the creator sees them; the other side crosses them
  alignas(64) socket_buf bufs[2];  // connection: the server reads the first, the client the second
};

static_assert(std::atomic<int32_t>::is_always_lock_free);
static_assert(std::atomic<uint32_t>::is_always_lock_free);
static_assert(sizeof(local_win_socket::socket_buf) == 8192);

namespace {

using shm_area = local_win_socket::shm_area;
using socket_buf = local_win_socket::socket_buf;
using shm_event = local_win_socket::shm_event;

constexpr size_t kListenerSize = offsetof(shm_area, bufs);
constexpr size_t kConnectionSize = sizeof(shm_area);

int map_segment(int fd, size_t size, shm_area*& area) {
  void* mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (mapped == MAP_FAILED) {
    return errno;
  }
  area = static_cast<shm_area*>(mapped);
  return 0;
}

// A new segment owned by this process; EEXIST when the name is taken.
int create_segment(const std::string& name, size_t size, shm_area*& area) {
  const int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  if (fd < 0) {
    return errno;
  }
  int rc = ftruncate(fd, static_cast<off_t>(size)) == 0 ? map_segment(fd, size, area) : errno;
  ::close(fd);
  if (rc != 0) {
    shm_unlink(name.c_str());
    return rc;
  }
  area->creator = getpid();
  area->ready.store(kReady, std::memory_order_release);
  return 0;
}

// An existing segment; broken_pipe while there is none or its creator has not finished it.
int open_segment(const std::string& name, size_t size, shm_area*& area) {
  const int fd = shm_open(name.c_str(), O_RDWR, 0);
  if (fd < 0) {
    return errno == ENOENT ? local_win_socket::broken_pipe : errno;
  }
  // Touching a mapping beyond the object's end raises SIGBUS, so a short object counts as absent.
  struct stat about {};
  int rc = fstat(fd, &about) != 0                   ? errno
           : about.st_size < static_cast<off_t>(size) ? local_win_socket::broken_pipe
                                                      : map_segment(fd, size, area);
  ::close(fd);
  if (rc == 0 && area->ready.load(std::memory_order_acquire) != kReady) {
    munmap(area, size);
    area = nullptr;
    rc = local_win_socket::broken_pipe;
  }
  return rc;
}

int32_t readable(const socket_buf& b) {
  const int32_t beg = b.DataBeg.load(std::memory_order_relaxed);
  const int32_t end = b.DataEnd.load(std::memory_order_acquire);
  return (beg <= end ? end : kRingSize) - beg;
}

// One byte always stays free, so that a full ring differs from an empty one.
int32_t writable(const socket_buf& b) {
  const int32_t end = b.DataEnd.load(std::memory_order_relaxed);
  const int32_t beg = b.DataBeg.load(std::memory_order_acquire);
  return beg > end ? beg - 1 - end : kRingSize - end - (beg == 0 ? 1 : 0);
}

// A side about to wait raises its flag and then looks at the other's index; the other publishes
// its index and then looks at the flag. The two sequentially consistent fences let at most one
// of them read the old value, so the waiter either sees the index or gets the signal.
template <typename Check>
bool announce(std::atomic<int32_t>& flag, Check check) {
  flag.store(1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  return check();
}

void notify(std::atomic<int32_t>& flag, shm_event& event) {
  std::atomic_thread_fence(std::memory_order_seq_cst);
  if (flag.load(std::memory_order_relaxed) != 0) {
    event.signal();
  }
}

// Copies the readable run at the read position, at most size bytes.
size_t take(socket_buf& b, char* to, size_t size, shm_event& space_freed) {
  const int32_t beg = b.DataBeg.load(std::memory_order_relaxed);
  const size_t run = std::min<size_t>(size, static_cast<size_t>(readable(b)));
  if (run == 0) {
    return 0;
  }
  std::memcpy(to, b.Data + beg, run);
  b.DataBeg.store(static_cast<int32_t>((beg + run) % kRingSize), std::memory_order_release);
  notify(b.SndWaitFlag, space_freed);
  return run;
}

// Copies into the free run at the write position, at most size bytes.
size_t put(socket_buf& b, const char* from, size_t size, shm_event& data_arrived) {
  const int32_t end = b.DataEnd.load(std::memory_order_relaxed);
  const size_t run = std::min<size_t>(size, static_cast<size_t>(writable(b)));
  if (run == 0) {
    return 0;
  }
  std::memcpy(b.Data + end, from, run);
  b.DataEnd.store(static_cast<int32_t>((end + run) % kRingSize), std::memory_order_release);
  notify(b.RcvWaitFlag, data_arrived);
  return run;
}

// Whether check() comes true within a few microseconds, without a system call: the other side
// usually runs on another core and refills or drains the ring sooner than a sleep and a wake-up
// take.
template <typename Check>
bool linger(Check check) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(kSpinMicros);
  do {
    if (check()) {
      return true;
    }
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  } while (std::chrono::steady_clock::now() < until);
  return false;
}

// At most one client takes each offer of the listener.
bool claim(shm_area& hs, pid_t me) {
  int32_t expected = offered;
  if (!hs.phase.compare_exchange_strong(expected, claiming)) {
    return false;
  }
  hs.client.store(me);
  expected = claiming;  // the listener may have withdrawn its offer meanwhile
  return hs.phase.compare_exchange_strong(expected, claimed);
}

int64_t deadline_after(int64_t seconds) {
  return seconds < 0 ? kForever : now_ms() + std::min(seconds, kMaxWaitSeconds) * 1000;
}

}  // namespace

local_win_socket::local_win_socket(const char* name)
    : Name(name != nullptr ? std::strcpy(new char[std::strlen(name) + 1], name) : nullptr) {}

local_win_socket::local_win_socket() = default;

local_win_socket::~local_win_socket() {
  release();
  watch(0);
  delete[] Name;
}

std::string local_win_socket::shm_name(const char* suffix) const {
  static const char hex[] = "0123456789ABCDEF";
  const std::string prefix = "/vudi." + std::to_string(getuid());
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
  // The longest of the names, less its leading '/', must fit one file name.
  if (name.size() - 1 + std::strlen(".hs") > NAME_MAX) {
    char text[20];
    std::snprintf(text, sizeof text, "~%016llx", static_cast<unsigned long long>(hash));
    name = prefix + text;
  }
  return name + suffix;
}

void local_win_socket::attach(shm_area* area, size_t size, int side) {
  Area = area;
  AreaSize = size;
  Side = side;
  for (int i = 0; i < 4; ++i) {
    Signal[i] = &area->events[(i + 2 * side) % 4];
  }
  if (size == kConnectionSize) {
    RcvBuf = &area->bufs[side];
    SndBuf = &area->bufs[1 - side];
  }
}

void local_win_socket::release() {
  if (Area == nullptr) {
    return;
  }
  if (Owner) {
    // Unlinked before it reads as closed, so that no new listener takes the name in between.
    shm_unlink(shm_name(".hs").c_str());
  }
  if (Owner || RcvBuf != nullptr) {
    wake_peer();
  }
  munmap(Area, AreaSize);
  Area = nullptr;
  RcvBuf = SndBuf = nullptr;
  std::fill(std::begin(Signal), std::end(Signal), nullptr);
  Owner = false;
}

void local_win_socket::wake_peer() {
  Area->closed[Side].store(1);
  Signal[TD]->signal();
  Signal[RTR]->signal();
}

void local_win_socket::wake_self() {
  if (Area != nullptr) {
    Signal[RD]->signal();
    Signal[RTT]->signal();
  }
}

void local_win_socket::watch(pid_t pid) {
  if (PeerFd >= 0) {
    ::close(PeerFd);
  }
  PeerPid = pid;
  PeerFd = pid > 0 ? pidfd_open(pid) : -1;
  PeerDead = PeerFd < 0 && pid > 0 && errno == ESRCH;
}

bool local_win_socket::peer_alive() {
  if (!PeerDead && PeerPid > 0) {
    // Without a pidfd a reused process id may look alive; an orderly peer still sets its word.
    PeerDead = PeerFd >= 0 ? has_ended(PeerFd) : kill(PeerPid, 0) != 0 && errno == ESRCH;
  }
  return !PeerDead;
}

template <typename Ready>
int local_win_socket::wait_for(int signal, socket_state expected, int64_t deadline, Ready ready) {
  for (;;) {
    if (state != expected) {
      return not_opened;
    }
    if (ready()) {
      return ok;
    }
    // The peer's end is seen before the ring is looked at once more: what it wrote before it
    // closed or died is still delivered.
    if (Area->closed[1 - Side].load() != 0 || !peer_alive()) {
      return ready() ? ok : broken_pipe;
    }
    const int64_t now = now_ms();
    if (now >= deadline) {
      return timeout_expired;
    }
    const int rc = Signal[signal]->wait(std::min(deadline, now + kSliceMs));
    if (rc != 0 && rc != ETIMEDOUT) {
      return rc;
    }
  }
}

int local_win_socket::usable(const socket_buf* ring) const {
  return state != ss_open ? not_opened : ring == nullptr ? invalid_access_mode : ok;
}

bool local_win_socket::open(int) {
  if (state != ss_close) {
    close();
  }
  Error = ok;
  if (Name == nullptr) {
    return set_error(not_opened, false);
  }
  const std::string name = shm_name(".hs");
  shm_area* area = nullptr;
  int rc;
  for (int tries = 0; (rc = create_segment(name, kListenerSize, area)) == EEXIST; ++tries) {
    // The name is taken: by a listener that lives (shut down or not, it holds the name until it
    // closes), or by what a dead or unfinished one left behind.
    shm_area* old = nullptr;
    const int found = open_segment(name, kListenerSize, old);
    if (found != ok && found != broken_pipe) {
      return set_error(found, false);
    }
    const bool live = found == ok && process_alive(old->creator);
    if (old != nullptr) {
      munmap(old, kListenerSize);
    }
    if (live || tries == kOpenTries) {
      return set_error(EADDRINUSE, false);
    }
    if (found == ok || tries >= kSettleTries) {
      shm_unlink(name.c_str());
    } else {
      task::sleep(kSliceMs);
    }
  }
  if (rc != ok) {
    return set_error(rc, false);
  }
  attach(area, kListenerSize, 0);
  Owner = true;
  state = ss_open;
  return true;
}

socket_t* local_win_socket::accept() {
  Error = ok;
  if (state != ss_open) {
    return set_error(not_opened, nullptr);
  }
  if (!Owner) {
    return set_error(invalid_access_mode, nullptr);
  }
  shm_area& hs = *Area;
  hs.phase.store(offered);
  Signal[RTR]->signal();
  // Only the handshake word tells that a client came: cancel_accept() wakes this wait as well.
  int rc = wait_for(RD, ss_open, kForever, [&] { return hs.phase.load() == claimed; });
  auto* connection = new local_win_socket();
  if (rc == ok) {
    watch(hs.client.load());
    const std::string name = shm_name(".c");
    shm_unlink(name.c_str());  // left by a server that died in a handshake
    shm_area* area = nullptr;
    rc = create_segment(name, kConnectionSize, area);
    if (rc == ok) {
      connection->attach(area, kConnectionSize, 0);
      hs.phase.store(segment_ready);
      Signal[TD]->signal();
      rc = wait_for(RD, ss_open, kForever, [&] { return hs.phase.load() != segment_ready; });
      shm_unlink(name.c_str());
      if (rc == ok && hs.phase.load() != acknowledged) {
        rc = broken_pipe;  // the client could not map the segment
      }
    }
  }
  hs.phase.store(idle);
  if (rc != ok) {
    delete connection;
    watch(0);
    return set_error(rc, nullptr);
  }
  connection->PeerPid = std::exchange(PeerPid, 0);
  connection->PeerFd = std::exchange(PeerFd, -1);
  connection->Error = ok;
  connection->state = ss_open;
  return connection;
}

bool local_win_socket::connect(int max_attempts, time_t timeout) {
  if (state != ss_close) {
    close();
  }
  Error = ok;
  if (Name == nullptr) {
    return set_error(not_opened, false);
  }
  if (timeout < -1) {
    return set_error(EINVAL, false);
  }
  const int64_t seconds = std::max(max_attempts, 0) * std::min<int64_t>(timeout, kMaxWaitSeconds);
  const int64_t deadline = deadline_after(timeout < 0 ? -1 : seconds);
  const std::string name = shm_name(".hs");
  state = ss_shutdown;
  for (;;) {
    shm_area* area = nullptr;
    int rc = open_segment(name, kListenerSize, area);
    if (rc == ok) {
      attach(area, kListenerSize, 1);
      rc = handshake(deadline);
      if (rc == ok) {
        state = ss_open;
        return true;
      }
      release();
    }
    // No listener yet, or it went away: wait for one until the time is up.
    const int64_t left = deadline - now_ms();
    if (rc != broken_pipe || left <= 0) {
      watch(0);
      state = ss_close;
      return set_error(rc == broken_pipe ? timeout_expired : rc, false);
    }
    task::sleep(static_cast<timeout_t>(std::min(left, kSliceMs)));
  }
}

int local_win_socket::handshake(int64_t deadline) {
  shm_area& hs = *Area;
  watch(hs.creator);
  for (int32_t phase = idle; phase != segment_ready;) {
    int rc = wait_for(RTT, ss_shutdown, deadline, [&] { return claim(hs, getpid()); });
    if (rc != ok) {
      return rc;
    }
    Signal[TD]->signal();
    // Any phase but segment_ready: the listener withdrew; wait for its next offer.
    rc = wait_for(RD, ss_shutdown, kForever, [&] { return (phase = hs.phase.load()) != claimed; });
    if (rc != ok) {
      return rc;
    }
  }
  // Mapped first, acknowledged then: the server unlinks the name once it has the acknowledgement.
  shm_area* connection = nullptr;
  int rc = open_segment(shm_name(".c"), kConnectionSize, connection);
  if (rc == ok && connection->creator != hs.creator) {
    rc = broken_pipe;
  }
  int32_t expected = segment_ready;
  const bool answered = hs.phase.compare_exchange_strong(expected, rc == ok ? acknowledged : idle);
  Signal[TD]->signal();
  if (rc != ok || !answered) {
    if (connection != nullptr) {
      munmap(connection, kConnectionSize);
    }
    return rc == ok ? broken_pipe : rc;
  }
  release();
  attach(connection, kConnectionSize, 1);
  return ok;
}

int64_t local_win_socket::receive(char* buf, size_t min_size, size_t max_size, int64_t deadline) {
  socket_buf& in = *RcvBuf;
  size_t got = 0;
  for (;;) {
    got += take(in, buf + got, max_size - got, *Signal[RTR]);
    if (got >= min_size) {
      return static_cast<int64_t>(got);
    }
    if (deadline > now_ms() && linger([&] { return readable(in) > 0; })) {
      continue;
    }
    const int rc = wait_for(RD, ss_open, deadline, [&] {
      return announce(in.RcvWaitFlag, [&] { return readable(in) > 0; });
    });
    in.RcvWaitFlag.store(0, std::memory_order_relaxed);
    if (rc == timeout_expired) {
      return static_cast<int64_t>(got);
    }
    if (rc != ok) {
      return set_error(rc, -1);
    }
  }
}

int local_win_socket::read(void* buf, size_t min_size, size_t max_size, time_t timeout) {
  Error = ok;
  max_size = std::min<size_t>(max_size, INT_MAX);
  min_size = std::min(min_size, max_size);
  if (min_size == 0) {
    return 0;
  }
  if (const int rc = usable(RcvBuf); rc != ok) {
    return set_error(rc, -1);
  }
  if (timeout < -1) {
    return set_error(EINVAL, -1);
  }
  return static_cast<int>(
      receive(static_cast<char*>(buf), min_size, max_size, deadline_after(timeout)));
}

bool local_win_socket::read(void* buf, size_t size) {
  Error = ok;
  if (size == 0) {
    return true;
  }
  if (const int rc = usable(RcvBuf); rc != ok) {
    return set_error(rc, false);
  }
  return receive(static_cast<char*>(buf), size, size, kForever) >= 0;
}

bool local_win_socket::write(const void* buf, size_t size) {
  Error = ok;
  if (size == 0) {
    return true;
  }
  if (const int rc = usable(SndBuf); rc != ok) {
    return set_error(rc, false);
  }
  socket_buf& out = *SndBuf;
  const char* data = static_cast<const char*>(buf);
  for (size_t done = 0;;) {
    if (Area->closed[1 - Side].load() != 0) {
      return set_error(broken_pipe, false);  // nobody reads any more
    }
    done += put(out, data + done, size - done, *Signal[TD]);
    if (done == size) {
      return true;
    }
    if (linger([&] { return writable(out) > 0; })) {
      continue;
    }
    const int rc = wait_for(RTT, ss_open, kForever, [&] {
      return announce(out.SndWaitFlag, [&] { return writable(out) > 0; });
    });
    out.SndWaitFlag.store(0, std::memory_order_relaxed);
    if (rc != ok) {
      return set_error(rc, false);
    }
  }
}

bool local_win_socket::sendto(int, int, const void*, size_t) {
  return set_error(invalid_access_mode, false);
}

int local_win_socket::recvfrom(int&, int&, void*, size_t) {
  return set_error(invalid_access_mode, -1);
}

bool local_win_socket::is_ok() { return Error == ok; }

void local_win_socket::get_error_text(char* buf, size_t buf_size) {
  const int code = Error;
  const char* text = nullptr;
  switch (code) {
    case ok: text = "ok"; break;
    case not_opened: text = "socket not opened"; break;
    case broken_pipe: text = "connection is broken"; break;
    case timeout_expired: text = "connection timeout expired"; break;
    case invalid_access_mode: text = "invalid access mode"; break;
    default: break;
  }
  copy_error_text(text, code, buf, buf_size);
}

bool local_win_socket::cancel_accept() {
  if (state != ss_close) {
    state = ss_shutdown;
    wake_self();
  }
  return true;
}

bool local_win_socket::shutdown() {
  Error = ok;
  if (state == ss_open) {
    state = ss_shutdown;
    wake_peer();
    wake_self();
  }
  return true;
}

bool local_win_socket::close() {
  if (state == ss_close) {
    return true;
  }
  state = ss_close;
  release();
  watch(0);
  Error = not_opened;
  return true;
}
