#pragma once

// The token game listens on the fixed port 2020, which any process of the machine may hold. Where
// the tests may (as root), they move into a network namespace of their own, in which nobody else
// listens; elsewhere they can only check that the port is free.

#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

// Moves the calling thread, and every thread and process it starts from then on, into a new
// network namespace with its loopback interface up; false, and left where it was, when it cannot.
inline bool enterPrivateNetwork() {
  const int home = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  if (home < 0) return false;
  bool up = unshare(CLONE_NEWNET) == 0;
  if (up) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq lo{};
    lo.ifr_name[0] = 'l', lo.ifr_name[1] = 'o';
    up = fd >= 0 && ioctl(fd, SIOCGIFFLAGS, &lo) == 0;
    lo.ifr_flags = static_cast<short>(lo.ifr_flags | IFF_UP);
    up = up && ioctl(fd, SIOCSIFFLAGS, &lo) == 0;
    if (fd >= 0) close(fd);
    if (!up) setns(home, CLONE_NEWNET);
  }
  close(home);
  return up;
}

// Empty when a test may listen on port 2020 now, else why not. Binding as the program does tells
// whether someone listens there on any address.
inline std::string port2020Unusable() {
  static const bool isPrivate = enterPrivateNetwork();
  if (isPrivate) return "";
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  sockaddr_in any{AF_INET, htons(2020), {htonl(INADDR_ANY)}, {}};
  const bool free = fd >= 0 && setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
                    bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) == 0;
  if (fd >= 0) close(fd);
  return free ? "" : "port 2020 is held by another process, and no private network could be made";
}
