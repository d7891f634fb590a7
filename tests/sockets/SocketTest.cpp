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
#include <sstream>
#include <string>
#include <thread>

#include "sockets/socket_t.h"
#include "sockets/win_socket.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Socket = std::unique_ptr<socket_t>;
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

std::string error_text(socket_t& s) {
  char text[256];
  s.get_error_text(text, sizeof text);
  return text;
}

Socket dial(const std::string& address, int attempts = 1, time_t pause = 0,
            socket_t::socket_domain domain = socket_t::sock_global_domain) {
  return Socket(socket_t::connect(address.c_str(), domain, attempts, pause));
}

TEST(TcpSocket, LoopbackConnectionFromAcceptToCancel) {
  Socket listener, client, server;
  for (int tries = 0; tries < 10 && !server; ++tries) {  // again should the port be taken meanwhile
    const std::string address = ReservedPort().address();
    listener.reset(socket_t::create_global(address.c_str(), 5));
    if (!listener->is_ok()) continue;
    client = dial(address);
    ASSERT_TRUE(client->is_ok()) << error_text(*client);
    server.reset(listener->accept());
  }
  ASSERT_TRUE(server);
  char buf[256] = {};
  ASSERT_TRUE(client->write("hello", 5) && server->read(buf, 5));
  EXPECT_EQ(std::string(buf, 5), "hello");
  ASSERT_TRUE(server->write("abcdef", 6));
  EXPECT_EQ(client->read(buf, 6, sizeof buf, -1), 6);
  EXPECT_EQ(std::string(buf, 6), "abcdef");
  // A minimum above the maximum takes what the maximum allows instead of failing.
  ASSERT_TRUE(client->write("xyz", 3));
  EXPECT_EQ(server->read(buf, 10, 2, -1), 2);
  EXPECT_EQ(server->read(buf, 0, sizeof buf, -1), 1);
  EXPECT_EQ(buf[0], 'z');

  // A timed read returns what arrived once its time is up, possibly nothing.
  auto start = Clock::now();
  EXPECT_EQ(server->read(buf, 1, sizeof buf, 1), 0);
  EXPECT_GT(Clock::now() - start, 800ms);
  EXPECT_EQ(error_text(*server), "ok");
  std::thread writer([&] {
    for (const char* piece : {"a", "b"}) sleep_for(150ms), client->write(piece, 1);
  });
  const int n = server->read(buf, 8, 8, 1);
  writer.join();
  EXPECT_EQ(std::string(buf, n > 0 ? n : 0), "ab");

  // A peer that closes breaks the connection without ending the process.
  ASSERT_TRUE(client->close());
  EXPECT_EQ(server->read(buf, 0, sizeof buf, -1), -1);
  EXPECT_EQ(error_text(*server), "connection is broken");
  EXPECT_FALSE(server->read(buf, 1));
  bool written = true;  // the first writes may still be buffered until the peer's reset is back
  for (int i = 0; i < 50 && written; ++i, sleep_for(10ms)) {
    written = server->write(buf, sizeof buf);
  }
  EXPECT_FALSE(written || client->write(buf, 1));
  EXPECT_EQ(error_text(*client), "socket not opened");

  // cancel_accept wakes a thread blocked in accept, which returns null.
  std::promise<socket_t*> accepted;
  auto result = accepted.get_future();
  std::thread waiter([&] { accepted.set_value(listener->accept()); });
  sleep_for(100ms);
  EXPECT_TRUE(listener->cancel_accept());
  const bool woken = result.wait_for(30s) == std::future_status::ready;
  woken ? waiter.join() : waiter.detach();
  ASSERT_TRUE(woken) << "accept was not woken";
  EXPECT_EQ(result.get(), nullptr);
  EXPECT_EQ(error_text(*listener), "socket not opened");
  EXPECT_EQ(listener->accept(), nullptr);
}

TEST(TcpSocket, FailedConnectsAndListenersSayWhy) {
  ReservedPort reserved;
  const char* gave_up = "exceed limit of attempts of connection to server";
  auto start = Clock::now();
  EXPECT_EQ(error_text(*dial(reserved.address(), 2, 1)), gave_up);
  EXPECT_GT(Clock::now() - start, 900ms);  // one pause between the two attempts
  // Only the exact host "localhost" stays on this host.
  const std::string upper = "LOCALHOST:" + std::to_string(reserved.port());
  EXPECT_EQ(error_text(*dial(upper, 1, 0, socket_t::sock_any_domain)), gave_up);
  EXPECT_NE(error_text(*dial("127.0.0.1:65535")), "bad address");  // above 32767 is a port too

  // A 100-character label cannot be put in a name query, so it fails without leaving the machine.
  const std::string bad[] = {"127.0.0.1",       "127.0.0.1:",   "127.0.0.1:abc", "127.0.0.1:70000",
                             "127.0.0.1:65536", "127.0.0.1:-1", "127.0.0.1:80x", ":80",
                             std::string(256, 'h') + ":80", std::string(100, 'a') + ":80"};
  for (const std::string& address : bad) {
    EXPECT_EQ(error_text(*dial(address)), "bad address") << address;
  }
  for (const char* address : {"no-port", "127.0.0.1:70000", static_cast<const char*>(nullptr)}) {
    Socket listener(socket_t::create_global(address, 5));
    EXPECT_EQ(error_text(*listener), "bad address");
    EXPECT_EQ(listener->accept(), nullptr);
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
  }
  char buf[8] = "XXXXXXX";
  error_probe(-3).get_error_text(buf, 4);
  EXPECT_STREQ(buf, "exc");
  EXPECT_EQ(buf[4], 'X');
  error_probe(ECONNREFUSED).get_error_text(buf, 1);
  EXPECT_STREQ(buf, "");
}

TEST(UdpSocket, DatagramsCarryTheSendersAddress) {
  ReservedPort reserved;
  Socket receiver(socket_t::create_dgram(reserved.address().c_str(), 0));
  Socket sender(socket_t::create_dgram(nullptr, 1));
  ASSERT_TRUE(receiver->is_ok() && sender->is_ok()) << error_text(*receiver);
  ASSERT_TRUE(sender->sendto(socket_t::get_ip("localhost"), reserved.port(), "ping", 4));
  char buf[16];
  int ip = 0, from_port = 0;
  EXPECT_EQ(receiver->recvfrom(ip, from_port, buf, sizeof buf), 4);
  EXPECT_EQ(std::string(buf, 4), "ping");
  EXPECT_TRUE(ip == 0x7f000001 && from_port != 0);
  EXPECT_EQ(socket_t::get_ip(nullptr), -1);
  std::ostringstream pid;
  pid << ':' << std::hex << getpid();
  EXPECT_TRUE(std::string(get_process_name()).ends_with(pid.str())) << get_process_name();
}

}  // namespace
