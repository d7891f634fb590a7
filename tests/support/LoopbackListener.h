#pragma once

// A TCP listener on 127.0.0.1, on a port the system picks free so that nobody else holds it; a
// receive buffer of `receiveBuffer` bytes keeps small what a connection never accepted can queue.
// Not `listening`, the port is held and refuses every connection.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

struct LoopbackListener {
  explicit LoopbackListener(int receiveBuffer = 0, bool listening = true) {
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof a;
    auto* at = reinterpret_cast<sockaddr*>(&a);
    if (receiveBuffer > 0)
      setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    EXPECT_EQ(bind(fd, at, size) | (listening ? listen(fd, 1) : 0) | getsockname(fd, at, &size), 0);
    address = "127.0.0.1:" + (port = std::to_string(ntohs(a.sin_port)));
  }
  ~LoopbackListener() { close(fd); }
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  std::string port, address;  // the address as --resport takes it
};
