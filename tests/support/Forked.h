#pragma once

// A peer in another process: the child runs body and exits with its result, skipping the parent's
// exit handlers; output still buffered is written before the fork, so only once.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

struct Forked {
  pid_t pid;
  explicit Forked(const std::function<int()>& body) : pid((std::fflush(stdout), fork())) {
    if (pid == 0) _exit(body());
  }
  ~Forked() { wait(); }
  // The exit status, or -1 when the child did not exit by itself; killed after 30 seconds.
  int wait() {
    int status = -1;
    for (int ms = 0; pid > 0 && waitpid(pid, &status, WNOHANG) == 0; ms += 5, usleep(5000))
      if (ms > 30000) kill(pid, SIGKILL);
    pid = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};
