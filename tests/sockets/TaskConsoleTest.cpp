#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <future>
#include <string>

#include "sockets/console.h"
#include "sockets/task.h"

namespace {

std::promise<task*> started[2];
std::atomic<bool> went_on{false};

// A stack below the system's least is raised to it, and a lower priority runs all the same.
TEST(Task, CreateRunsTheRoutineOnAnotherThreadUntilItExits) {
  auto routine = [](void* arg) {
    static_cast<std::promise<task*>*>(arg)->set_value(task::current());
    task::exit();
    went_on = true;
  };
  task::create(routine, &started[0], task::pri_normal, 0);
  task::create(routine, &started[1], task::pri_low, 1024);
  for (auto& runner : started) EXPECT_NE(runner.get_future().get(), task::current());
  task::sleep(50);
  EXPECT_FALSE(went_on);
}

struct recording_console : console {
  std::string text;
  void output_data(int stream, const char* format, va_list args) override {
    char line[128];
    std::vsnprintf(line, sizeof line, format, args);
    text += std::to_string(stream) + ":" + line;
  }
  bool input_data(char* buf, size_t n) override { return std::snprintf(buf, n, "typed\n") > 0; }
};

TEST(Console, OutputGoesToTheActiveConsole) {
  {
    recording_console first;
    recording_console second;  // the first replaced the default console and keeps its place
    console::output("x=%s", "y");
    EXPECT_EQ(first.text + "|" + second.text, "0:x=y|");
    char line[16];
    EXPECT_TRUE(console::input(line, sizeof line));
    EXPECT_STREQ(line, "typed\n");
  }
  // A console that is gone hands back to the default one, which writes to standard output.
  testing::internal::CaptureStdout();
  console::output("back %d", 5);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "back 5");
}

TEST(ConsoleDeathTest, ErrorWritesItsMessageAndAborts) {
  // Standard output is sent to standard error, where the death test looks.
  EXPECT_EXIT((dup2(2, 1), console::error("fatal %d\n", 7)), testing::KilledBySignal(SIGABRT),
              "fatal 7");
}

}  // namespace
