// Throughput and 64-byte round trips of the same-host transport against loopback TCP, each
// between two threads of this process, in the same run.

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sockets/socket_t.h"
#include "sockets/win_socket.h"

namespace {

using Socket = std::unique_ptr<socket_t>;

struct Connection {
  Socket client, server;
};

Connection connect_pair(bool same_host) {
  if (same_host) {
    const std::string address = "bench-" + std::to_string(getpid());
    Socket listener(socket_t::create_local(address.c_str(), 1));
    auto client = std::async(std::launch::async, [&] {
      return Socket(socket_t::connect(address.c_str(), socket_t::sock_local_domain, 10, 1));
    });
    Socket server(listener->accept());
    return {client.get(), std::move(server)};
  }
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in bound{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof bound;
  bind(listener, reinterpret_cast<sockaddr*>(&bound), length);
  listen(listener, 1);
  getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &length);
  const std::string address = "127.0.0.1:" + std::to_string(ntohs(bound.sin_port));
  Socket client(socket_t::connect(address.c_str(), socket_t::sock_global_domain, 1, 0));
  const int server = ::accept(listener, nullptr, nullptr);
  const int on = 1;
  setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  ::close(listener);
  return {std::move(client), Socket(new win_socket(server))};
}

// 16 MB per iteration from the server's thread to the client's, in writes of 64 kB.
void Throughput(benchmark::State& state, bool same_host) {
  constexpr size_t kChunk = 64 * 1024, kPerIteration = 16 << 20;
  Connection c = connect_pair(same_host);
  if (!c.client->is_ok() || !c.server) return state.SkipWithError("no connection");
  std::thread writer([&] {
    std::vector<char> chunk(kChunk, 'x');
    for (char go; c.server->read(&go, 1);) {
      for (size_t sent = 0; sent < kPerIteration && c.server->write(chunk.data(), kChunk);) sent += kChunk;
    }
  });
  std::vector<char> in(kChunk);
  for (auto _ : state) {
    size_t got = 0;
    for (int n = c.client->write("g", 1) ? 1 : -1; n > 0 && got < kPerIteration; got += n) {
      n = c.client->read(in.data(), 1, kChunk, -1);
    }
    if (got < kPerIteration) {
      state.SkipWithError("connection broken");
      break;
    }
  }
  c.client->close();  // ends the writer's wait for the next round
  writer.join();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPerIteration));
}

// One 64-byte message to an echoing thread and back.
void RoundTrip64(benchmark::State& state, bool same_host) {
  Connection c = connect_pair(same_host);
  if (!c.client->is_ok() || !c.server) return state.SkipWithError("no connection");
  std::thread echo([&] {
    char message[64];
    while (c.server->read(message, sizeof message) && c.server->write(message, sizeof message)) {}
  });
  char message[64] = {};
  for (auto _ : state) {
    if (!c.client->write(message, sizeof message) || !c.client->read(message, sizeof message)) {
      state.SkipWithError("connection broken");
      break;
    }
  }
  c.client->close();
  echo.join();
}

BENCHMARK_CAPTURE(Throughput, same_host, true)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Throughput, loopback_tcp, false)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RoundTrip64, same_host, true)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(RoundTrip64, loopback_tcp, false)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
