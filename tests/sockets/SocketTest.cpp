#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "sockets/socket_t.h"
#include "sockets/win_socket.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Socket = std::unique_ptr<socket_t>;

// A loopback port the system picked, held by a socket that does not listen: connections to it
// are refused, and no one else can take it while it is held.
struct ReservedPort {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  ReservedPort() {
    socklen_t length = sizeof a;
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length), 0);
  }
  ~ReservedPort() { ::close(fd); }
  int port() const { return ntohs(a.sin_port); }
};

std::string loopback(int port) { return "127.0.0.1:" + std::to_string(port); }

std::string error_text(socket_t& s) {
  char text[256];
  s.get_error_text(text, sizeof text);
  return text;
}

Socket tcp_connect(const std::string& address, int attempts = 1, time_t pause = 0) {
  return Socket(socket_t::connect(address.c_str(), socket_t::sock_global_domain, attempts, pause));
}

struct Connection {
  Socket listener, client, server;
};

// A listener and both ends of one connection, on a port chosen now (again on a collision).
Connection connect_pair() {
  for (int tries = 0; tries < 10; ++tries) {
    int port = ReservedPort().port();
    Socket listener(socket_t::create_global(loopback(port).c_str(), 5));
    if (listener->is_ok()) {
      Socket client = tcp_connect(loopback(port));
      EXPECT_TRUE(client->is_ok()) << error_text(*client);
      Socket server(listener->accept());
      return {std::move(listener), std::move(client), std::move(server)};
    }
  }
  return {};
}

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(TcpSocket, CarriesDataBothWays) {
  Connection c = connect_pair();
  ASSERT_TRUE(c.server);
  char buf[16] = {};
  ASSERT_TRUE(c.client->write("hello", 5));
  ASSERT_TRUE(c.server->read(buf, 5));
  EXPECT_EQ(std::string(buf, 5), "hello");
  ASSERT_TRUE(c.server->write("abcdef", 6));
  EXPECT_EQ(c.client->read(buf, 6, sizeof buf, -1), 6);
  EXPECT_EQ(std::string(buf, 6), "abcdef");
  // A minimum above the maximum takes what the maximum allows instead of failing.
  ASSERT_TRUE(c.client->write("xyz", 3));
  EXPECT_EQ(c.server->read(buf, 10, 2, -1), 2);
  EXPECT_EQ(c.server->read(buf, 0, sizeof buf, -1), 1);
  EXPECT_EQ(buf[0], 'z');
  EXPECT_EQ(error_text(*c.server), "ok");
}

TEST(TcpSocket, PeerThatClosesBreaksTheConnectionWithoutEndingTheProcess) {
  Connection c = connect_pair();
  ASSERT_TRUE(c.server);
  ASSERT_TRUE(c.client->close());
  char buf[256] = {};
  EXPECT_EQ(c.server->read(buf, 0, sizeof buf, -1), -1);
  EXPECT_EQ(error_text(*c.server), "connection is broken");
  EXPECT_FALSE(c.server->read(buf, 1));
  // The first writes may still be buffered; once the peer's reset is back they fail.
  bool written = true;
  for (int i = 0; i < 50 && written; ++i, std::this_thread::sleep_for(10ms)) {
    written = c.server->write(buf, sizeof buf);
  }
  EXPECT_FALSE(written);
  EXPECT_FALSE(c.client->write(buf, 1));
  EXPECT_EQ(error_text(*c.client), "socket not opened");
}

TEST(TcpSocket, TimedReadReturnsWhatArrivedWhenTheTimeIsUp) {
  Connection c = connect_pair();
  ASSERT_TRUE(c.server);
  char buf[8] = {};
  auto start = Clock::now();
  EXPECT_EQ(c.server->read(buf, 1, sizeof buf, 1), 0);
  EXPECT_GT(seconds_since(start), 0.8);
  EXPECT_TRUE(c.server->is_ok());

  std::thread writer([&] {
    for (const char* piece : {"a", "b"}) {
      std::this_thread::sleep_for(150ms);
      c.client->write(piece, 1);
    }
  });
  start = Clock::now();
  int n = c.server->read(buf, sizeof buf, sizeof buf, 1);
  writer.join();
  EXPECT_EQ(std::string(buf, n > 0 ? n : 0), "ab");
  EXPECT_GT(seconds_since(start), 0.8);
}

TEST(TcpSocket, RefusedConnectGivesUpAfterItsAttempts) {
  ReservedPort reserved;
  const std::string port = ":" + std::to_string(reserved.port());
  const char* gave_up = "exceed limit of attempts of connection to server";
  EXPECT_EQ(error_text(*tcp_connect("127.0.0.1" + port, 3, 0)), gave_up);
  auto start = Clock::now();
  EXPECT_EQ(error_text(*tcp_connect("127.0.0.1" + port, 2, 1)), gave_up);
  EXPECT_GT(seconds_since(start), 0.9);  // one pause between the two attempts
  // Only the exact host "localhost" stays on this host; these go over TCP.
  for (std::string tcp : {"127.0.0.1" + port, "LOCALHOST" + port}) {
    Socket refused(socket_t::connect(tcp.c_str(), socket_t::sock_any_domain, 1, 0));
    EXPECT_EQ(error_text(*refused), gave_up) << tcp;
  }
}

TEST(TcpSocket, BadAddressesAreRejected) {
  // A 100-character label cannot be put in a name query, so it fails without leaving the machine.
  const std::string bad[] = {"127.0.0.1",       "127.0.0.1:",   "127.0.0.1:abc", "127.0.0.1:70000",
                             "127.0.0.1:65536", "127.0.0.1:-1", "127.0.0.1:80x", ":80",
                             std::string(256, 'h') + ":80", std::string(100, 'a') + ":80"};
  for (const std::string& address : bad) {
    EXPECT_EQ(error_text(*tcp_connect(address)), "bad address") << address;
  }
  for (const char* address : {"no-port", "127.0.0.1:70000", static_cast<const char*>(nullptr)}) {
    Socket listener(socket_t::create_global(address, 5));
    EXPECT_EQ(error_text(*listener), "bad address") << (address ? address : "null");
    EXPECT_EQ(listener->accept(), nullptr);
  }
  // Ports above 32767 are ports too.
  for (const char* address : {"127.0.0.1:40000", "127.0.0.1:65535"}) {
    EXPECT_NE(error_text(*tcp_connect(address)), "bad address") << address;
  }
  EXPECT_DEATH(delete socket_t::connect(nullptr, socket_t::sock_global_domain, 1, 0),
               "Assertion failed: address != NULL");
}

struct error_probe : win_socket {
  explicit error_probe(int code) : win_socket(nullptr) { errcode = code; }
};

TEST(TcpSocket, ErrorTextsAreAlwaysTerminated) {
  const std::pair<int, std::string> texts[] = {
      {0, "ok"}, {-1, "socket not opened"}, {-2, "bad address"},
      {-3, "exceed limit of attempts of connection to server"}, {-4, "connection is broken"},
      {-5, "invalid access mode"}, {-6, "sent message was truncated"},
      {ECONNREFUSED, std::strerror(ECONNREFUSED)}, {99999, "unknown error code 99999"},
      {-7, "unknown error code 4294967289"}};
  for (const auto& [code, text] : texts) {
    error_probe probe(code);
    EXPECT_EQ(error_text(probe), text) << code;
    EXPECT_EQ(probe.is_ok(), code == 0);
  }
  char buf[8] = "XXXXXXX";
  error_probe(-3).get_error_text(buf, 4);
  EXPECT_STREQ(buf, "exc");
  EXPECT_EQ(buf[4], 'X');
  error_probe(ECONNREFUSED).get_error_text(buf, 1);
  EXPECT_STREQ(buf, "");
}

TEST(TcpSocket, CancelAcceptWakesABlockedAccept) {
  Connection c = connect_pair();
  ASSERT_TRUE(c.listener);
  std::promise<socket_t*> accepted;
  std::thread waiter([&] { accepted.set_value(c.listener->accept()); });
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(c.listener->cancel_accept());
  auto result = accepted.get_future();
  if (result.wait_for(30s) != std::future_status::ready) {
    waiter.detach();
    FAIL() << "accept was not woken";
  }
  waiter.join();
  EXPECT_EQ(result.get(), nullptr);
  EXPECT_EQ(error_text(*c.listener), "socket not opened");
  EXPECT_EQ(c.listener->accept(), nullptr);
}

TEST(UdpSocket, DatagramsCarryTheSendersAddress) {
  int port = ReservedPort().port();
  Socket receiver(socket_t::create_dgram(loopback(port).c_str(), 0));
  Socket sender(socket_t::create_dgram(nullptr, 1));
  ASSERT_TRUE(receiver->is_ok() && sender->is_ok()) << error_text(*receiver);
  ASSERT_TRUE(sender->sendto(0x7f000001, port, "ping", 4));
  char buf[16];
  int ip = 0, from_port = 0;
  EXPECT_EQ(receiver->recvfrom(ip, from_port, buf, sizeof buf), 4);
  EXPECT_EQ(std::string(buf, 4), "ping");
  EXPECT_EQ(ip, 0x7f000001);
  EXPECT_NE(from_port, 0);
}

TEST(SocketUtilities, AddressesAndProcessName) {
  EXPECT_EQ(socket_t::get_ip("127.0.0.1"), 0x7f000001);
  EXPECT_EQ(socket_t::get_ip("localhost"), 0x7f000001);
  EXPECT_EQ(socket_t::get_ip(std::string(100, 'a').c_str()), -1);
  EXPECT_EQ(socket_t::get_ip(nullptr), -1);
  char pid[16];
  std::snprintf(pid, sizeof pid, ":%x", static_cast<unsigned>(getpid()));
  std::string name = get_process_name();
  EXPECT_EQ(name.substr(name.size() - std::strlen(pid)), pid);
}

TEST(SameHostTransport, ReportsThatItIsNotAvailable) {
  Socket sockets[] = {
      Socket(socket_t::connect("localhost:4000", socket_t::sock_any_domain, 100, 1)),
      Socket(socket_t::connect("127.0.0.1", socket_t::sock_any_domain, 100, 1)),
      Socket(socket_t::connect(nullptr, socket_t::sock_any_domain, 100, 1)),
      Socket(socket_t::connect("127.0.0.1:4000", socket_t::sock_local_domain, 100, 1)),
      Socket(socket_t::create_local("name", 5))};
  char buf[4];
  for (Socket& s : sockets) {
    EXPECT_EQ(error_text(*s), "same-host transport not available");
    EXPECT_FALSE(s->is_ok() || s->write("x", 1));
    EXPECT_EQ(s->read(buf, 1, sizeof buf, 0), -1);
    EXPECT_EQ(s->accept(), nullptr);
  }
}

}  // namespace
