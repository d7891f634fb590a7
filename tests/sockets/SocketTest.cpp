#include <arpa/inet.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "sockets/local_win_socket.h"
#include "sockets/socket_t.h"
#include "sockets/win_socket.h"
#include "support/Forked.h"

namespace {

using namespace std::chrono_literals;
using Socket = std::unique_ptr<socket_t>;
using std::launch::async;
using std::this_thread::sleep_for;

// A loopback port the system picked, held by a socket that does not listen: connections to it
// are refused, and no one else can take it while it is held.
struct ReservedPort {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof a;
  ReservedPort() {
    auto* named = reinterpret_cast<sockaddr*>(&a);
    EXPECT_EQ(bind(fd, named, length) | getsockname(fd, named, &length), 0);
  }
  ~ReservedPort() { ::close(fd); }
  int port() const { return ntohs(a.sin_port); }
  std::string address() const { return "127.0.0.1:" + std::to_string(port()); }
};

std::string text_of(socket_t& s) { char text[256]; return s.get_error_text(text, 256), text; }

Socket dial(const std::string& address, int attempts = 1, time_t pause = 0,
            socket_t::socket_domain domain = socket_t::sock_global_domain) {
  return Socket(socket_t::connect(address.c_str(), domain, attempts, pause));
}

// Connections of the same-host transport, or of TCP. Same-host names hold this test's and this
// process's names, so that tests may run side by side; none of this process may be left behind.
struct LocalSocket : testing::Test {
  socket_t::socket_domain domain = socket_t::sock_local_domain;
  std::string address = std::to_string(getpid()) + "-" +
                        testing::UnitTest::GetInstance()->current_test_info()->name();
  Socket listen(const std::string& name) { return Socket(socket_t::create_local(name.c_str(), 5)); }
  Socket listener() {
    if (domain == socket_t::sock_local_domain) return listen(address);
    Socket tcp;  // again should the port be taken before the listener has it
    for (int tries = 0; tries < 10 && !(tcp && tcp->is_ok()); ++tries) {
      address = ReservedPort().address();  // freed before the listener takes it
      tcp.reset(socket_t::create_global(address.c_str(), 5));
    }
    return tcp;
  }
  Socket dial(time_t seconds = 30) { return ::dial(address, 1, seconds, domain); }
  std::pair<Socket, Socket> connected(socket_t& listener) {  // client on another thread, server end
    auto client = std::async(async, [&] { return dial(); });
    Socket server(listener.accept());
    return {client.get(), std::move(server)};
  }
  // The listener's shared-memory object of a name made of letters, digits and '-' only.
  static std::string object(const std::string& name) {
    return "/dev/shm/vudi." + std::to_string(getuid()) + "." + name + ".hs";
  }
  void TearDown() override {
    const std::string ours =
        "vudi." + std::to_string(getuid()) + "." + std::to_string(getpid()) + "-";
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm"))
      EXPECT_FALSE(entry.path().filename().string().starts_with(ours)) << entry.path();
  }
};

struct EitherSocket : LocalSocket, testing::WithParamInterface<socket_t::socket_domain> {
  EitherSocket() { domain = GetParam(); }
};

TEST_P(EitherSocket, BoundedAndTimedReadsThenAPeerThatClosesThenACancelledAccept) {
  Socket listener = this->listener();
  auto [client, server] = connected(*listener);
  ASSERT_TRUE(server && client->is_ok()) << text_of(*listener);
  // A minimum above the maximum takes what the maximum allows instead of failing.
  char buf[256];
  ASSERT_TRUE(server->write("xyz", 3));
  EXPECT_EQ(client->read(buf, 10, 2, -1), 2);
  EXPECT_TRUE(client->read(&buf[2], 1) && std::string(buf, 3) == "xyz");
  // A timed read returns what arrived by its end, which is no error.
  ASSERT_TRUE(client->write("ab", 2));
  EXPECT_TRUE(server->read(buf, 8, 8, 1) == 2 && std::string(buf, 2) == "ab");
  EXPECT_EQ(text_of(*server), "ok");

  // A peer that closes: its last bytes still reach a blocked reader, then the end, with no hang.
  auto blocked = std::async(async, [&] { return server->read(buf, 1, 8, -1); });
  ASSERT_TRUE(client->write("bye", 3) && client->close());
  EXPECT_EQ(blocked.get(), 3);
  EXPECT_EQ(server->read(buf, 1, 8, -1), -1);
  EXPECT_EQ(text_of(*server), "connection is broken");
  EXPECT_FALSE(server->read(buf, 1));
  bool written = true;  // TCP may buffer the first writes until the peer's reset is back
  for (int i = 0; i < 50 && written; ++i, sleep_for(10ms)) written = server->write(buf, sizeof buf);
  EXPECT_FALSE(written || client->write(buf, 1));
  EXPECT_EQ(text_of(*client), "socket not opened");

  // cancel_accept wakes a thread blocked in accept, which returns null, not a half-made peer.
  auto waiting = std::async(async, [&] { return Socket(listener->accept()); });
  sleep_for(100ms);
  EXPECT_TRUE(listener->cancel_accept());
  EXPECT_EQ(waiting.get(), nullptr);
  EXPECT_TRUE(text_of(*listener) == "socket not opened" && listener->accept() == nullptr);
}

INSTANTIATE_TEST_SUITE_P(, EitherSocket, testing::Values(socket_t::sock_local_domain,
                                                         socket_t::sock_global_domain),
                         [](const auto& info) { return info.param == 1 ? "Local" : "Tcp"; });

// Then the peer dies, while this side waits for data, or for space.
TEST_F(LocalSocket, ForkedPeersMoveAMegabyteEachWayUntilOneDies) {
  std::vector<char> data(1 << 20), got(1 << 20);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + i / 4096);
  auto stream = [&](socket_t& s, bool sending, size_t stride) {  // in pieces of odd sizes
    for (size_t done = 0, k = 0, n; done < data.size(); done += n, ++k) {
      n = std::min<size_t>(1 + k * stride % 4099, data.size() - done);
      if (!(sending ? s.write(&data[done], n) : s.read(&got[done], n))) return false;
    }
    return sending || got == data;
  };
  Socket listener = this->listener();
  for (bool reading : {true, false}) {
    got.assign(got.size(), 0);
    Forked client([&] {
      Socket s = dial();
      const bool moved = s->is_ok() && stream(*s, false, 613) && stream(*s, true, 977);
      return moved ? (usleep(100000), raise(SIGKILL)) : 1;
    });
    Socket server(listener->accept());
    ASSERT_TRUE(server) << text_of(*listener);
    EXPECT_TRUE(stream(*server, true, 389) && stream(*server, false, 1201)) << text_of(*server);
    EXPECT_FALSE(reading ? server->read(got.data(), 1) : server->write(data.data(), data.size()));
    EXPECT_EQ(text_of(*server), "connection is broken");
    EXPECT_EQ(client.wait(), -1);
  }
}

// Names are easy to guess and anyone may create objects beside ours: only this user's own are used.
TEST_F(LocalSocket, ObjectsOfOtherUsersOrOpenToThemAreRefused) {
  const mode_t mask = umask(0277);
  Socket listener = this->listener();
  umask(mask);
  struct stat about {};
  ASSERT_TRUE(listener->is_ok() && stat(object(address).c_str(), &about) == 0);
  EXPECT_EQ(about.st_mode & 07777, 0600u);
  auto waiting = std::async(async, [&] { return Socket(listener->accept()); });
  const bool root = geteuid() == 0;
  chmod(object(address).c_str(), 0644);
  EXPECT_EQ(text_of(*dial()), "shared memory object open to other users (mode 0644)");
  chmod(object(address).c_str(), 0600);
  if (root && chown(object(address).c_str(), 65534, -1) == 0) {
    EXPECT_EQ(text_of(*dial()), "shared memory object owned by uid 65534, not ours");
  }
  EXPECT_TRUE(listener->cancel_accept());
  EXPECT_EQ(waiting.get(), nullptr);  // no client ever answered its offer
  if (!root) GTEST_SKIP() << "objects of uid 65534 need root to make";

  // Another user's leftover or link under our name: neither taken over nor followed.
  const std::string squatted = address + "-squatted", path = object(squatted);
  for (bool link : {false, true}) {
    ASSERT_EQ(link ? symlink(object(address).c_str(), path.c_str()) : mkfifo(path.c_str(), 0666), 0);
    ASSERT_EQ(lchown(path.c_str(), 65534, 65534), 0);
    EXPECT_EQ(text_of(*listen(squatted)), "shared memory object owned by uid 65534, not ours");
    EXPECT_EQ(text_of(*::dial(squatted, 1, 5, domain)), text_of(*listen(squatted)));
    unlink(path.c_str());
  }
}

TEST_F(LocalSocket, RingKeepsOneByteFreeReadsTheTailFirstAndBreaksOnImpossiblePositions) {
  Socket listener = this->listener();
  auto [writer, reader] = connected(*listener);
  ASSERT_TRUE(reader && writer->is_ok()) << text_of(*listener);
  std::vector<char> out(8176), in(8176);
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(i * 7);
  ASSERT_TRUE(writer->write(out.data(), 8175));  // fits without a reader
  auto last = std::async(async, [&] { return writer->write(&out[8175], 1); });
  EXPECT_EQ(last.wait_for(200ms), std::future_status::timeout);
  ASSERT_EQ(reader->read(in.data(), 1, 1, -1), 1);
  EXPECT_TRUE(last.get() && reader->read(&in[1], 8175) && in == out);
  // Both ends at 8000: 276 bytes go across the end of the ring and come back tail first.
  ASSERT_TRUE(writer->write(&out[1], 8000) && reader->read(in.data(), 8000));
  ASSERT_TRUE(writer->write(&out[1], 276));
  EXPECT_EQ(reader->read(in.data(), 1, 4096, -1), 176);
  EXPECT_EQ(reader->read(&in[176], 10, 4096, 0), 100);  // time is up: what is there
  EXPECT_TRUE(std::equal(&out[1], &out[277], in.begin()));
  EXPECT_EQ(reader->read(in.data(), 1, 1, -2), -1);
  EXPECT_EQ(text_of(*reader), std::strerror(EINVAL));

  // A peer may write anything into the rings' positions: no copy goes outside a ring, the
  // connection ends for both sides.
  struct Probe : local_win_socket {
    using local_win_socket::local_win_socket, local_win_socket::RcvBuf, local_win_socket::SndBuf;
  };
  struct Forgery { bool client, read, beg; int32_t value; };  // on the ring the acting end uses
  const Forgery forgeries[] = {{true, false, false, 2147483000}, {true, false, true, 100000},
                               {true, true, false, -1},          {true, true, true, 8176},
                               {false, true, false, 100000},     {false, false, true, 2147483000}};
  char buf[64] = {};
  for (const Forgery& f : forgeries) {
    Probe client(address.c_str());
    auto dialed = std::async(async, [&] { return client.connect(1, 30); });
    Socket server(listener->accept());
    ASSERT_TRUE(dialed.get() && server) << text_of(*listener);
    auto& ring = *(f.client == f.read ? client.RcvBuf : client.SndBuf);
    (f.beg ? ring.DataBeg : ring.DataEnd).store(f.value);
    socket_t& acting = f.client ? static_cast<socket_t&>(client) : *server;
    socket_t& other = f.client ? *server : static_cast<socket_t&>(client);
    EXPECT_FALSE(f.read ? acting.read(buf, 1) : acting.write(buf, sizeof buf)) << f.value;
    EXPECT_EQ(text_of(acting), "connection is broken");
    EXPECT_EQ(other.read(buf, 1, 1, 5), -1);
    EXPECT_EQ(text_of(other), "connection is broken");
  }
}

TEST_F(LocalSocket, OfListenersRacingForALeftOverNameOneWinsAndClientsWaitBoundedForOne) {
  for (int round = 0; round < 200; ++round) {
    Forked([&] { return listen(address)->is_ok() ? raise(SIGKILL) : 1; }).wait();
    std::vector<Socket> racers(2 + round % 7);
    std::atomic<size_t> started = 0;
    std::vector<std::thread> threads;
    for (Socket& racer : racers)
      threads.emplace_back([&] {
        for (++started; started < racers.size();) std::this_thread::yield();
        racer = listen(address);
      });
    for (auto& thread : threads) thread.join();
    int owners = 0;
    for (Socket& racer : racers) {
      owners += racer->is_ok();
      EXPECT_TRUE(racer->is_ok() || text_of(*racer) == std::strerror(EADDRINUSE));
    }
    ASSERT_EQ(owners, 1) << "round " << round;
  }

  Forked([&] { return listen(address)->is_ok() ? raise(SIGKILL) : 1; }).wait();  // leaves its name
  EXPECT_EQ(text_of(*dial(1)), "connection timeout expired");
  for (const char* other : {"localhost:4000", "127.0.0.1", static_cast<const char*>(nullptr)})
    EXPECT_EQ(text_of(*Socket(socket_t::connect(other, socket_t::sock_any_domain, 1, 0))),
              other ? "connection timeout expired" : "socket not opened");

  std::future<Socket> early[2];
  for (auto& client : early) client = std::async(async, [&] { return dial(); });
  sleep_for(100ms);
  const std::string hashed = address + std::string(300, '/');  // too long for a file name
  Socket listener = listen(address), other = listen(hashed);
  ASSERT_TRUE(listener->is_ok() && other->is_ok()) << text_of(*listener);
  EXPECT_EQ(text_of(*listen(hashed)), std::strerror(EADDRINUSE));  // the same hashed name
  Socket served[] = {Socket(listener->accept()), Socket(listener->accept())};
  for (auto& client : early) EXPECT_TRUE(served[0] && served[1] && client.get()->is_ok());
}

TEST(TcpSocket, FailedConnectsAndListenersSayWhy) {
  ReservedPort reserved;
  const char* gave_up = "exceed limit of attempts of connection to server";
  EXPECT_EQ(text_of(*dial(reserved.address(), 2, 1)), gave_up);
  // Only the exact host "localhost" stays on this host; above 32767 is a port too.
  const std::string upper = "LOCALHOST:" + std::to_string(reserved.port());
  EXPECT_EQ(text_of(*dial(upper, 1, 0, socket_t::sock_any_domain)), gave_up);
  EXPECT_NE(text_of(*dial("127.0.0.1:65535")), "bad address");

  // A 100-character label cannot be put in a name query, so it fails without leaving the machine.
  const std::string bad[] = {"127.0.0.1", "127.0.0.1:", "127.0.0.1:8x", "127.0.0.1:65536", ":80",
                             std::string(256, 'h') + ":80", std::string(100, 'a') + ":80"};
  for (const std::string& address : bad)
    EXPECT_EQ(text_of(*dial(address)), "bad address") << address;
  for (const char* address : {"no-port", "127.0.0.1:70000", static_cast<const char*>(nullptr)}) {
    Socket listener(socket_t::create_global(address, 5));
    EXPECT_TRUE(text_of(*listener) == "bad address" && listener->accept() == nullptr);
  }
  // A code of no name, and texts cut to the buffer, always terminated.
  struct probe : win_socket { explicit probe(int code) : win_socket(nullptr) { errcode = code; } };
  EXPECT_EQ(text_of(*std::make_unique<probe>(-7)), "unknown error code 4294967289");
  char buf[8] = "XXXXXXX";
  probe(-3).get_error_text(buf, 4);
  EXPECT_TRUE(std::string(buf) == "exc" && buf[4] == 'X');
  probe(ECONNREFUSED).get_error_text(buf, 1);
  EXPECT_STREQ(buf, "");
}

// A write to a peer that takes nothing gives up once it took no data for the idle time, or when
// its policy calls the wait off; a connect that finds no server says that it waits.
TEST_P(EitherSocket, WritesToAPeerThatTakesNothingEndWhenIdleOrCalledOffAndConnectsSayTheyWait) {
  Socket listener = this->listener();
  std::atomic<const char*> stop = nullptr;
  const socket_t::wait_policy policy{1, [&] { return stop.load(); }, {}};
  auto dialed = std::async(
      async, [&] { return Socket(socket_t::connect(address.c_str(), domain, 1, 30, policy)); });
  Socket server(listener->accept()), client = dialed.get();
  ASSERT_TRUE(server && client->is_ok()) << text_of(*listener);
  std::vector<char> block(1 << 16);
  const auto fill = [&] {  // until a write fails: the system's buffers take a few megabytes
    auto filled = std::async(async, [&] {
      for (int i = 0; i < 4096 && client->write(block.data(), block.size()); ++i) continue;
    });
    if (filled.wait_for(30s) != std::future_status::ready) server->close();  // frees it
  };
  const auto begin = std::chrono::steady_clock::now();
  fill();
  EXPECT_GE(std::chrono::steady_clock::now() - begin, 1s);
  EXPECT_EQ(text_of(*client), "the peer took no data for 1 seconds");
  stop = "called off", fill();
  EXPECT_EQ(text_of(*client), "called off while waiting for the peer");

  // The same-host transport after its first second, TCP at the first refusal, or after a second
  // without an answer from a listener whose full queue drops what comes.
  ReservedPort refused, full, queued;
  std::vector<std::string> nobodies = {address + "-none"};
  if (domain == socket_t::sock_global_domain) {
    auto* to = reinterpret_cast<sockaddr*>(&full.a);
    ASSERT_EQ(::listen(full.fd, 0) | ::connect(queued.fd, to, full.length), 0);
    nobodies = {refused.address(), full.address()};
  }
  for (const std::string& nobody : nobodies) {
    bool announced = false;
    const socket_t::wait_policy impatient{-1, [&] { return announced ? "called off" : nullptr; },
                                          [&] { announced = true; }};
    Socket none(socket_t::connect(nobody.c_str(), domain, 100, 1, impatient));
    EXPECT_EQ(text_of(*none), "called off while waiting for the peer") << nobody;
  }
}

// Whether the handshake word in the listener's object at path is at phase within 10 s.
bool reaches(const std::string& path, int32_t phase) {
  int32_t now = -1;
  for (int ms = 0; ms < 10000 && now != phase; ms += 1, usleep(1000)) {
    const int fd = open(path.c_str(), O_RDONLY), at = offsetof(local_win_socket::shm_area, phase);
    if (fd < 0 || pread(fd, &now, sizeof now, at) != sizeof now) now = -1;
    close(fd);
  }
  return now == phase;
}

// A listener stopped after a client claimed its offer holds the connect only for its time and gets
// the claim back; one that shrinks its object then breaks the handshake, not the client's process.
TEST_F(LocalSocket, AListenerThatStopsOrShrinksInTheHandshakeHoldsAConnectOnlyForItsTime) {
  for (bool shrink : {false, true}) {
    Forked peer([&] { return Socket(listen(address)->accept()) ? 0 : 1; });
    const std::string hs = object(address);
    ASSERT_TRUE(reaches(hs, local_win_socket::offered));
    kill(peer.pid, SIGSTOP);
    auto said = std::async(async, [&] { return text_of(*this->dial(shrink ? 3 : 1)); });
    // Shrunk once claimed, the object would fault the client at its next look.
    EXPECT_TRUE(!shrink ||
                (reaches(hs, local_win_socket::claimed) && truncate(hs.c_str(), 0) == 0));
    EXPECT_TRUE(said.wait_for(30s) == std::future_status::ready || (kill(peer.pid, SIGKILL), 0));
    EXPECT_EQ(said.get(), "connection timeout expired");
    if (shrink) {  // the killed listener leaves its object behind
      kill(peer.pid, SIGKILL), peer.wait(), unlink(hs.c_str());
      continue;
    }
    EXPECT_TRUE(reaches(hs, local_win_socket::offered));
    kill(peer.pid, SIGCONT);
    EXPECT_TRUE(this->dial()->is_ok());
  }
}

// A peer (here root, through the mappings' files) that shrinks a connection's segment: both ends
// find the connection broken, and the process lives.
TEST_F(LocalSocket, AShrunkConnectionIsBrokenForBothEndsInsteadOfKillingTheProcess) {
  Socket listener = this->listener();
  auto [client, server] = connected(*listener);
  ASSERT_TRUE(server && client->is_ok() && client->write("ab", 2)) << text_of(*listener);
  const std::string hs = object(address), path = hs.substr(0, hs.size() - 3) + ".c (deleted)";
  std::ifstream maps("/proc/self/maps");
  int shrunk = 0;
  for (std::string line; std::getline(maps, line);) {
    if (!line.ends_with(path)) continue;
    const int fd = open(("/proc/self/map_files/" + line.substr(0, line.find(' '))).c_str(), O_RDWR);
    if (fd < 0) GTEST_SKIP() << "a mapping's file cannot be opened: " << std::strerror(errno);
    shrunk += ftruncate(fd, 0) == 0, close(fd);
  }
  ASSERT_EQ(shrunk, 1);  // the client's mapping; the server's bears the name it was made under
  char buf[4];
  EXPECT_FALSE(client->write("cd", 2));
  EXPECT_EQ(text_of(*client), "connection is broken");
  EXPECT_EQ(server->read(buf, 1, 4, 5), -1);
  EXPECT_EQ(text_of(*server), "connection is broken");
}

}  // namespace
