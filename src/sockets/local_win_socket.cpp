// How this transport sits on Linux:
// - Named section: the shared-memory object "/vudi.<uid>.<address>.hs" of a listener, holding
//   its events and handshake words; the address keeps [A-Za-z0-9.-] and writes every other byte
//   as _XX, or becomes a 64-bit hash when the name would not fit a file name.
// - Private section and events of one connection: the object "<same>.c", which the server
//   creates for each handshake and unlinks as soon as the client has mapped it.
// - Any user may create files in the shared-memory folder, and the names are easy to guess: an
//   object is used only when this user owns it and no one else may open it, and it is made whole
//   under a temporary name before it appears under its own. The listener keeps its object
//   locked (flock) while it listens; an object nobody locks was left by a dead process.
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
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "sockets/task.h"

namespace {

constexpr int32_t kRingSize = local_win_socket::socket_buf::size;
constexpr int32_t kBroken = -1;         // what take() and put() return for impossible positions
constexpr int32_t kReady = 0x76756469;  // stored last by the creator of a segment
constexpr int64_t kSliceMs = 50;
constexpr int kSpinMicros = 20;
constexpr int64_t kForever = INT64_MAX;
constexpr int64_t kMaxWaitSeconds = 100000000;
constexpr int kInstallTries = 100;
constexpr mode_t kPrivate = S_IRUSR | S_IWUSR;
constexpr const char* kFolder = "/dev/shm";

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

}  // namespace

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

// The two positions of a ring, each loaded once. The peer can write anything there at any time,
// so a run is computed from these copies only, and nothing is copied unless both lie in the ring.
struct positions {
  int32_t beg, end;
  bool impossible() const {
    return static_cast<uint32_t>(beg) >= kRingSize || static_cast<uint32_t>(end) >= kRingSize;
  }
  int32_t readable() const { return (beg <= end ? end : kRingSize) - beg; }
  // One byte always stays free, so that a full ring differs from an empty one.
  int32_t writable() const {
    return beg > end ? beg - 1 - end : kRingSize - end - (beg == 0 ? 1 : 0);
  }
};

positions as_reader(const socket_buf& b) {
  return {b.DataBeg.load(std::memory_order_relaxed), b.DataEnd.load(std::memory_order_acquire)};
}

positions as_writer(const socket_buf& b) {
  return {b.DataBeg.load(std::memory_order_acquire), b.DataEnd.load(std::memory_order_relaxed)};
}

// Whether take() or put() has something to do: a run to copy, or positions to refuse.
bool can_take(const socket_buf& b) {
  const positions p = as_reader(b);
  return p.impossible() || p.readable() > 0;
}

bool can_put(const socket_buf& b) {
  const positions p = as_writer(b);
  return p.impossible() || p.writable() > 0;
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
int32_t take(socket_buf& b, char* to, size_t size, shm_event& space_freed) {
  const positions p = as_reader(b);
  if (p.impossible()) {
    return kBroken;
  }
  const auto run = static_cast<int32_t>(std::min<size_t>(size, p.readable()));
  if (run == 0) {
    return 0;
  }
  std::memcpy(to, b.Data + p.beg, run);
  b.DataBeg.store((p.beg + run) % kRingSize, std::memory_order_release);
  notify(b.SndWaitFlag, space_freed);
  return run;
}

// Copies into the free run at the write position, at most size bytes.
int32_t put(socket_buf& b, const char* from, size_t size, shm_event& data_arrived) {
  const positions p = as_writer(b);
  if (p.impossible()) {
    return kBroken;
  }
  const auto run = static_cast<int32_t>(std::min<size_t>(size, p.writable()));
  if (run == 0) {
    return 0;
  }
  std::memcpy(b.Data + p.end, from, run);
  b.DataEnd.store((p.end + run) % kRingSize, std::memory_order_release);
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

std::string local_win_socket::object_path(const char* suffix) const {
  static const char hex[] = "0123456789ABCDEF";
  const std::string prefix = "vudi." + std::to_string(getuid());
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
  // The longest of the names must fit one file name.
  if (name.size() + std::strlen(".hs") > NAME_MAX) {
    char text[20];
    std::snprintf(text, sizeof text, "~%016llx", static_cast<unsigned long long>(hash));
    name = prefix + text;
  }
  return std::string(kFolder) + '/' + name + suffix;
}

int local_win_socket::vet(const struct stat& about, size_t size) {
  if (about.st_uid != geteuid()) {
    Refused = about.st_uid;
    return foreign_owner;
  }
  if ((about.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    Refused = about.st_mode & 07777;
    return open_to_others;
  }
  // Touching a mapping beyond the object's end raises SIGBUS, so a short object counts as absent.
  return about.st_size < static_cast<off_t>(size) ? broken_pipe : ok;
}

int local_win_socket::vet_failed_open(const std::string& path, int error) {
  struct stat about {};
  const int rc = lstat(path.c_str(), &about) == 0 ? vet(about, 0) : ok;
  return rc != ok ? rc : error;
}

int local_win_socket::open_object(const std::string& path, size_t size, shm_area*& area) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    return errno == ENOENT ? broken_pipe : vet_failed_open(path, errno);
  }
  struct stat about {};
  int rc = fstat(fd, &about) != 0 ? errno : vet(about, size);
  if (rc == ok) {
    rc = map_segment(fd, size, area);
  }
  ::close(fd);
  if (rc == ok && area->ready.load(std::memory_order_acquire) != kReady) {
    munmap(area, size);
    area = nullptr;
    rc = broken_pipe;
  }
  return rc;
}

int local_win_socket::create_object(const std::string& path, size_t size, shm_area*& area,
                                    int* lock) {
  std::string temp = std::string(kFolder) + "/vudi." + std::to_string(getuid()) + ".XXXXXX.new";
  const int fd = mkostemps(temp.data(), 4, O_CLOEXEC);
  if (fd < 0) {
    return errno;
  }
  // The mode is set again: the umask may have taken bits from the one the file was made with.
  const bool made = fchmod(fd, kPrivate) == 0 && ftruncate(fd, static_cast<off_t>(size)) == 0 &&
                    flock(fd, LOCK_EX | LOCK_NB) == 0;
  struct stat about {};
  int rc = !made ? errno : fstat(fd, &about) != 0 ? errno : vet(about, size);
  if (rc == ok) {
    rc = map_segment(fd, size, area);
  }
  if (rc == ok) {
    area->creator = getpid();
    area->ready.store(kReady, std::memory_order_release);
    rc = install(temp, path);
    if (rc != ok) {
      munmap(area, size);
      area = nullptr;
    }
  }
  unlink(temp.c_str());
  if (rc == ok && lock != nullptr) {
    *lock = fd;
  } else {
    ::close(fd);
  }
  return rc;
}

int local_win_socket::install(const std::string& temp, const std::string& path) {
  for (int tries = 0; tries < kInstallTries; ++tries) {
    if (link(temp.c_str(), path.c_str()) == 0) {
      return ok;
    }
    if (errno != EEXIST) {
      return errno;
    }
    const int held = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (held < 0) {
      if (errno == ENOENT) {
        continue;  // gone meanwhile
      }
      return vet_failed_open(path, errno);
    }
    // A live listener holds the lock of its object. Whoever takes over a leftover holds its lock
    // meanwhile, and removes it only while the name still shows it: of several processes taking
    // it at once, one removes it and links its own, the others find that one locked.
    struct stat about {
    }, named{};
    int rc = fstat(held, &about) != 0 ? errno : vet(about, 0);
    if (rc == ok && flock(held, LOCK_EX | LOCK_NB) != 0) {
      rc = errno == EWOULDBLOCK ? EADDRINUSE : errno;
    }
    if (rc == ok && lstat(path.c_str(), &named) == 0 && named.st_ino == about.st_ino &&
        named.st_dev == about.st_dev && unlink(path.c_str()) != 0) {
      rc = errno;
    }
    ::close(held);
    if (rc != ok) {
      return rc;
    }
  }
  return EADDRINUSE;
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
    // Unlinked while still locked and before it reads as closed, so that no new listener takes
    // the name in between.
    unlink(object_path(".hs").c_str());
  }
  if (Owner || RcvBuf != nullptr) {
    wake_peer();
  }
  munmap(Area, AreaSize);
  Area = nullptr;
  if (NameLock >= 0) {
    ::close(NameLock);
    NameLock = -1;
  }
  RcvBuf = SndBuf = nullptr;
  std::fill(std::begin(Signal), std::end(Signal), nullptr);
  Owner = false;
  Broken = false;
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
  return state != ss_open  ? not_opened
         : ring == nullptr ? invalid_access_mode
         : Broken          ? broken_pipe
                           : ok;
}

int local_win_socket::break_connection() {
  Broken = true;
  wake_peer();
  return broken_pipe;
}

bool local_win_socket::open(int) {
  if (state != ss_close) {
    close();
  }
  Error = ok;
  if (Name == nullptr) {
    return set_error(not_opened, false);
  }
  shm_area* area = nullptr;
  if (const int rc = create_object(object_path(".hs"), kListenerSize, area, &NameLock); rc != ok) {
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
    const std::string name = object_path(".c");
    shm_area* area = nullptr;
    rc = create_object(name, kConnectionSize, area, nullptr);
    if (rc == ok) {
      connection->attach(area, kConnectionSize, 0);
      hs.phase.store(segment_ready);
      Signal[TD]->signal();
      rc = wait_for(RD, ss_open, kForever, [&] { return hs.phase.load() != segment_ready; });
      unlink(name.c_str());
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
  const std::string name = object_path(".hs");
  state = ss_shutdown;
  for (;;) {
    shm_area* area = nullptr;
    int rc = open_object(name, kListenerSize, area);
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
  int rc = open_object(object_path(".c"), kConnectionSize, connection);
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
    const int32_t run = take(in, buf + got, max_size - got, *Signal[RTR]);
    if (run == kBroken) {
      return set_error(break_connection(), -1);
    }
    got += static_cast<size_t>(run);
    if (got >= min_size) {
      return static_cast<int64_t>(got);
    }
    if (deadline > now_ms() && linger([&] { return can_take(in); })) {
      continue;
    }
    const int rc = wait_for(RD, ss_open, deadline,
                            [&] { return announce(in.RcvWaitFlag, [&] { return can_take(in); }); });
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
    const int32_t run = put(out, data + done, size - done, *Signal[TD]);
    if (run == kBroken) {
      return set_error(break_connection(), false);
    }
    done += static_cast<size_t>(run);
    if (done == size) {
      return true;
    }
    if (linger([&] { return can_put(out); })) {
      continue;
    }
    const int rc = wait_for(RTT, ss_open, kForever, [&] {
      return announce(out.SndWaitFlag, [&] { return can_put(out); });
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
  char refusal[80];
  switch (code) {
    case ok: text = "ok"; break;
    case not_opened: text = "socket not opened"; break;
    case broken_pipe: text = "connection is broken"; break;
    case timeout_expired: text = "connection timeout expired"; break;
    case invalid_access_mode: text = "invalid access mode"; break;
    case foreign_owner:
      std::snprintf(refusal, sizeof refusal, "shared memory object owned by uid %u, not ours",
                    Refused);
      text = refusal;
      break;
    case open_to_others:
      std::snprintf(refusal, sizeof refusal, "shared memory object open to other users (mode %04o)",
                    Refused);
      text = refusal;
      break;
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
