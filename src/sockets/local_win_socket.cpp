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
// - A peer that shrinks a segment would end this process with SIGBUS: mapping_guard lays zero
//   pages over the mapping instead, and the connection breaks.
// - Waits for a peer that have no time-out of their own (a write into a full ring, the client's
//   handshake) end with the connect's time, the write's idle limit or the caller's wait policy.
// - Error numbers and their texts: errno and strerror.
#include "sockets/local_win_socket.h"

#include <linux/futex.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <utility>

#include "sockets/mapping_guard.h"
#include "sockets/task.h"

namespace {

constexpr int32_t kRingSize = local_win_socket::socket_buf::size;
constexpr int32_t kBroken = -1;         // what take() and put() return for impossible positions
constexpr int64_t kSliceMs = socket_t::wait_slice_ms;
constexpr int kSpinMicros = 20;
constexpr int64_t kForever = INT64_MAX;
constexpr int64_t kMaxWaitSeconds = 100000000;

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

void local_win_socket::shm_event::signal() {
  if (pending.exchange(1) == 0) {
    futex(pending, FUTEX_WAKE, 1, nullptr);
  }
}

int local_win_socket::shm_event::wait(int64_t deadline) {
  const timespec until{static_cast<time_t>(deadline / 1000), deadline % 1000 * 1000000};
  while (pending.exchange(0) == 0) {
    if (futex(pending, FUTEX_WAIT_BITSET, 0, &until) != 0 && errno != EAGAIN && errno != EINTR) {
      return errno;
    }
  }
  return 0;
}

static_assert(std::atomic<int32_t>::is_always_lock_free);
static_assert(std::atomic<uint32_t>::is_always_lock_free);
static_assert(sizeof(local_win_socket::socket_buf) == 8192);

namespace {

using shm_area = local_win_socket::shm_area;
using socket_buf = local_win_socket::socket_buf;
using shm_event = local_win_socket::shm_event;

constexpr size_t kListenerSize = local_win_socket::listener_size;
constexpr size_t kConnectionSize = local_win_socket::connection_size;

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

using enum local_win_socket::handshake_phase;

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

// Takes back a claim the listener has not answered, so that its offer stands for the next
// client; one it answered meanwhile is refused, as a segment that cannot be mapped is.
void withdraw(shm_area& hs) {
  int32_t expected = claimed;
  if (!hs.phase.compare_exchange_strong(expected, offered)) {
    expected = segment_ready;
    hs.phase.compare_exchange_strong(expected, idle);
  }
}

// The clock is read in whole milliseconds, rounded down: one more keeps the wait from ending early.
int64_t deadline_after(int64_t seconds) {
  return seconds < 0 ? kForever : now_ms() + 1 + std::min(seconds, kMaxWaitSeconds) * 1000;
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

void local_win_socket::attach(const mapping& m, int side) {
  Mapped = m;
  Area = m.area;
  Side = side;
  for (int i = 0; i < 4; ++i) {
    Signal[i] = &Area->events[(i + 2 * side) % 4];
  }
  if (m.size == kConnectionSize) {
    RcvBuf = &Area->bufs[side];
    SndBuf = &Area->bufs[1 - side];
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
  unmap(Mapped);
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
int local_win_socket::wait_for(int signal, socket_state expected, int64_t deadline, bool stoppable,
                               Ready ready) {
  for (;;) {
    if (state != expected) {
      return not_opened;
    }
    // A segment shrunk by the peer reads as zeros from then on.
    if (shrunk()) {
      return broken_pipe;
    }
    if (ready()) {
      return ok;
    }
    // The peer's end is seen before the ring is looked at once more: what it wrote before it
    // closed or died is still delivered.
    if (Area->closed[1 - Side].load() != 0 || !peer_alive()) {
      return ready() && !shrunk() ? ok : broken_pipe;
    }
    if (const int stop = stoppable ? stop_requested() : ok; stop != ok) {
      return stop;
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
  return state != ss_open     ? not_opened
         : ring == nullptr    ? invalid_access_mode
         : Broken || shrunk() ? broken_pipe
                              : ok;
}

bool local_win_socket::shrunk() const { return mapping_guard::struck(Mapped.guard); }

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
  mapping listener;
  if (const int rc = create_object(object_path(".hs"), kListenerSize, listener, &NameLock);
      rc != ok) {
    return set_error(rc, false);
  }
  attach(listener, 0);
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
  auto* connection = new local_win_socket();
  int rc = ok;
  for (bool answered = false; rc == ok && !answered;) {
    // Only the handshake word tells that a client came: cancel_accept() wakes this wait as well.
    rc = wait_for(RD, ss_open, kForever, false, [&] { return hs.phase.load() == claimed; });
    const std::string name = object_path(".c");
    mapping segment;
    if (rc == ok) {
      rc = create_object(name, kConnectionSize, segment, nullptr);
    }
    if (rc != ok) {
      break;
    }
    connection->attach(segment, 0);
    // A client whose time ran out takes its claim back, and the offer stands for the next one.
    int32_t expected = claimed;
    answered = hs.phase.compare_exchange_strong(expected, segment_ready);
    if (answered) {
      watch(hs.client.load());
      Signal[TD]->signal();
      rc = wait_for(RD, ss_open, kForever, false, [&] { return hs.phase.load() != segment_ready; });
      if (rc == ok && hs.phase.load() != acknowledged) {
        rc = broken_pipe;  // the client could not map the segment
      }
    } else {
      connection->release();
    }
    unlink(name.c_str());
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
  // The first attempt's time: the waiting is announced when it passed without a listener.
  const int64_t first_attempt = deadline_after(std::max<time_t>(timeout, 0));
  waiting_announced = false;
  const std::string name = object_path(".hs");
  state = ss_shutdown;
  for (;;) {
    mapping listener;
    int rc = open_object(name, kListenerSize, listener);
    if (rc == ok) {
      attach(listener, 1);
      rc = handshake(deadline);
      if (rc == ok) {
        state = ss_open;
        return true;
      }
      release();
    }
    // No listener yet, or it went away: wait for one until the time is up.
    const int64_t now = now_ms();
    if (rc == broken_pipe && now >= first_attempt) {
      announce_waiting();
    }
    if (rc == broken_pipe && now >= deadline) {
      rc = timeout_expired;
    } else if (rc == broken_pipe) {
      rc = stop_requested();
    }
    if (rc != broken_pipe && rc != ok) {
      watch(0);
      state = ss_close;
      return set_error(rc, false);
    }
    task::sleep(static_cast<timeout_t>(std::min(deadline - now, kSliceMs)));
  }
}

int local_win_socket::handshake(int64_t deadline) {
  shm_area& hs = *Area;
  watch(hs.creator);
  for (int32_t phase = idle; phase != segment_ready;) {
    int rc = wait_for(RTT, ss_shutdown, deadline, true, [&] { return claim(hs, getpid()); });
    if (rc != ok) {
      return rc;
    }
    Signal[TD]->signal();
    // Any phase but segment_ready: the listener withdrew; wait for its next offer. A listener
    // that stops here holds the connect no longer than any other wait for it.
    rc = wait_for(RD, ss_shutdown, deadline, true,
                  [&] { return (phase = hs.phase.load()) != claimed; });
    if (rc != ok) {
      withdraw(hs);
      Signal[TD]->signal();
      return rc;
    }
  }
  // Mapped first, acknowledged then: the server unlinks the name once it has the acknowledgement.
  mapping connection;
  int rc = open_object(object_path(".c"), kConnectionSize, connection);
  if (rc == ok && connection.area->creator != hs.creator) {
    rc = broken_pipe;
  }
  int32_t expected = segment_ready;
  const bool answered = hs.phase.compare_exchange_strong(expected, rc == ok ? acknowledged : idle);
  Signal[TD]->signal();
  if (rc != ok || !answered) {
    unmap(connection);
    return rc == ok ? broken_pipe : rc;
  }
  release();
  attach(connection, 1);
  return ok;
}

int64_t local_win_socket::receive(char* buf, size_t min_size, size_t max_size, int64_t deadline) {
  socket_buf& in = *RcvBuf;
  size_t got = 0;
  for (;;) {
    const int32_t run = take(in, buf + got, max_size - got, *Signal[RTR]);
    if (run == kBroken || shrunk()) {  // what was copied from a shrunk segment is zeros
      return set_error(break_connection(), -1);
    }
    got += static_cast<size_t>(run);
    if (got >= min_size) {
      return static_cast<int64_t>(got);
    }
    if (deadline > now_ms() && linger([&] { return can_take(in); })) {
      continue;
    }
    const int rc = wait_for(RD, ss_open, deadline, false,
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
  int64_t deadline = deadline_after(policy.idle_seconds);
  for (size_t done = 0;;) {
    if (Area->closed[1 - Side].load() != 0) {
      return set_error(broken_pipe, false);  // nobody reads any more
    }
    const int32_t run = put(out, data + done, size - done, *Signal[TD]);
    if (run == kBroken || shrunk()) {
      return set_error(break_connection(), false);
    }
    done += static_cast<size_t>(run);
    if (done == size) {
      return true;
    }
    if (run > 0) {
      deadline = deadline_after(policy.idle_seconds);
    }
    if (linger([&] { return can_put(out); })) {
      continue;
    }
    const int rc = wait_for(RTT, ss_open, deadline, true, [&] {
      return announce(out.SndWaitFlag, [&] { return can_put(out); });
    });
    out.SndWaitFlag.store(0, std::memory_order_relaxed);
    if (rc != ok) {
      return set_error(rc == timeout_expired ? peer_idle : rc, false);
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
