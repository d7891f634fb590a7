#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "sockets/socket_t.h"
#include "support/Forked.h"

namespace {

using namespace std::chrono_literals;
using Socket = std::unique_ptr<socket_t>;
using std::launch::async;

std::string text_of(socket_t& s) {
  char text[128];
  s.get_error_text(text, sizeof text);
  return text;
}

// Names of this test and process, so that tests may run side by side; none may be left behind.
struct LocalSocket : testing::Test {
  const std::string address = std::to_string(getpid()) + "-" +
                              testing::UnitTest::GetInstance()->current_test_info()->name();
  Socket listen(const std::string& name) { return Socket(socket_t::create_local(name.c_str(), 5)); }
  Socket dial(time_t seconds = 30) {
    return Socket(socket_t::connect(address.c_str(), socket_t::sock_local_domain, 1, seconds));
  }
  std::pair<Socket, Socket> connected(socket_t& listener) {  // client on another thread, server end
    auto client = std::async(async, [&] { return dial(); });
    Socket server(listener.accept());
    return {client.get(), std::move(server)};
  }
  void TearDown() override {
    const std::string ours = "vudi." + std::to_string(getuid()) + "." + address;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm"))
      EXPECT_FALSE(entry.path().filename().string().starts_with(ours)) << entry.path();
  }
};

TEST_F(LocalSocket, RingKeepsOneByteFreeAndReadsTheTailFirst) {
  Socket listener = listen(address);
  auto [client, server] = connected(*listener);
  ASSERT_TRUE(server && client->is_ok()) << text_of(*listener);
  std::vector<char> out(8176), in(8176);
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char>(i * 7);
  ASSERT_TRUE(client->write(out.data(), 8175));  // fits without a reader
  auto last = std::async(async, [&] { return client->write(&out[8175], 1); });
  EXPECT_EQ(last.wait_for(200ms), std::future_status::timeout);
  ASSERT_EQ(server->read(in.data(), 1, 1, -1), 1);
  EXPECT_TRUE(last.get() && server->read(&in[1], 8175) && in == out);
  // Both ends at 8000: 276 bytes go across the end of the ring and come back tail first.
  ASSERT_TRUE(client->write(&out[1], 8000) && server->read(in.data(), 8000));
  ASSERT_TRUE(client->write(&out[1], 276));
  EXPECT_EQ(server->read(in.data(), 1, 4096, -1), 176);
  EXPECT_EQ(server->read(&in[176], 10, 4096, 0), 100);  // time is up: what is there
  EXPECT_TRUE(std::equal(&out[1], &out[277], in.begin()));
  ASSERT_TRUE(client->write("xy", 2));
  EXPECT_EQ(server->read(in.data(), 10, 1, -1), 1);  // a minimum above the maximum is cut to it
  EXPECT_EQ(server->read(in.data(), 1, 1, -2), -1);
  EXPECT_EQ(text_of(*server), std::strerror(EINVAL));
}

TEST_F(LocalSocket, ForkedPeersMoveAMegabyteEachWay) {
  std::vector<char> data(1 << 20), got(1 << 20);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + i / 4096);
  auto stream = [&](socket_t& s, bool sending, size_t stride) {  // in pieces of odd sizes
    for (size_t done = 0, k = 0, n; done < data.size(); done += n, ++k) {
      n = std::min<size_t>(1 + k * stride % 4099, data.size() - done);
      if (!(sending ? s.write(&data[done], n) : s.read(&got[done], n))) return false;
    }
    return sending || got == data;
  };
  Socket listener = listen(address);
  Forked client([&] {
    Socket s = dial();
    return s->is_ok() && stream(*s, false, 613) && stream(*s, true, 977) ? 0 : 1;
  });
  Socket server(listener->accept());
  ASSERT_TRUE(server) << text_of(*listener);
  EXPECT_TRUE(stream(*server, true, 389) && stream(*server, false, 1201)) << text_of(*server);
  EXPECT_EQ(client.wait(), 0);
}

TEST_F(LocalSocket, APeerThatDiesOrClosesBreaksTheConnection) {
  Socket listener = listen(address);
  std::vector<char> big(1 << 20);
  for (bool reading : {true, false}) {  // killed while this side waits for data, or for space
    // The temporary socket lives to the end of the statement: the child dies connected.
    Forked client([&] { return dial()->write("x", 1) ? (usleep(100000), raise(SIGKILL)) : 1; });
    Socket server(listener->accept());
    ASSERT_TRUE(server && server->read(big.data(), 1));
    EXPECT_FALSE(reading ? server->read(big.data(), 1) : server->write(big.data(), big.size()));
    EXPECT_EQ(text_of(*server), "connection is broken");
    EXPECT_EQ(client.wait(), -1);
  }
  // A peer that closes and lives on: its last bytes still arrive, then the end, with no hang.
  auto [client, server] = connected(*listener);
  auto blocked = std::async(async, [&] { return server->read(big.data(), 1, 8, -1); });
  ASSERT_TRUE(client->write("bye", 3) && client->close());
  EXPECT_EQ(blocked.get(), 3);
  EXPECT_EQ(server->read(big.data(), 1, 8, -1), -1);
  EXPECT_FALSE(server->write("x", 1));
  EXPECT_EQ(text_of(*server), "connection is broken");
}

TEST_F(LocalSocket, ClientsWaitBoundedForAListenerAndAreServedInTurn) {
  Forked([&] { return listen(address)->is_ok() ? raise(SIGKILL) : 1; }).wait();  // leaves its name
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(text_of(*dial(1)), "connection timeout expired");
  EXPECT_GT(std::chrono::steady_clock::now() - start, 900ms);
  for (const char* other : {"localhost:4000", "127.0.0.1", static_cast<const char*>(nullptr)})
    EXPECT_EQ(text_of(*Socket(socket_t::connect(other, socket_t::sock_any_domain, 1, 0))),
              other ? "connection timeout expired" : "socket not opened");

  std::future<Socket> early[2];
  for (auto& client : early) client = std::async(async, [&] { return dial(); });
  std::this_thread::sleep_for(100ms);
  const std::string hashed = address + std::string(300, '/');  // too long for a file name
  Socket listener = listen(address), other = listen(hashed);
  ASSERT_TRUE(listener->is_ok() && other->is_ok()) << text_of(*listener);
  EXPECT_EQ(text_of(*listen(address)), std::strerror(EADDRINUSE));
  EXPECT_EQ(text_of(*listen(hashed)), std::strerror(EADDRINUSE));
  // Each accept serves one client; each client hears its own byte back.
  Socket served[] = {Socket(listener->accept()), Socket(listener->accept())};
  Socket clients[] = {early[0].get(), early[1].get()};
  char echo[2] = {0, 1};
  for (int i : {0, 1}) ASSERT_TRUE(served[i] && clients[i]->write(&echo[i], 1));
  for (int i : {0, 1}) ASSERT_TRUE(served[i]->read(&echo[i], 1) && served[i]->write(&echo[i], 1));
  for (int i : {0, 1}) EXPECT_TRUE(clients[i]->read(&echo[i], 1) && echo[i] == i);
  // The wake-up of cancel_accept is no client.
  auto waiting = std::async(async, [&] { return Socket(listener->accept()); });
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(listener->cancel_accept());
  EXPECT_EQ(waiting.get(), nullptr);
  EXPECT_EQ(text_of(*listener), "socket not opened");
}

}  // namespace
