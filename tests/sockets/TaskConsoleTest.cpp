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

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TEST(Task, CreateRunsTheRoutineOnAnotherThreadUntilItExits) {
  struct Started { std::promise<task*> runner; std::atomic<bool> after_exit{false}; } normal, low;
  auto routine = [](void* arg) {
    static_cast<Started*>(arg)->runner.set_value(task::current());
    task::exit();
    static_cast<Started*>(arg)->after_exit = true;
  };
  task::create(routine, &normal, task::pri_normal, 0);
  task::create(routine, &low, task::pri_low, 1024);
  for (Started* started : {&normal, &low}) {
    auto runner = started->runner.get_future();
    ASSERT_EQ(runner.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    task* other = runner.get();
    EXPECT_TRUE(other != nullptr && other != task::current());
  }
  task::sleep(50);
  EXPECT_FALSE(normal.after_exit || low.after_exit);
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
  CaptureStdout();
  console::output("%d\n", 5);
  EXPECT_EQ(GetCapturedStdout(), "5\n");
  {
    recording_console first;
    recording_console second;  // the first replaced the default console and keeps its place
    console::output("x=%s", "y");
    EXPECT_EQ(first.text + "|" + second.text, "0:x=y|");
    char line[16];
    EXPECT_TRUE(console::input(line, sizeof line));
    EXPECT_STREQ(line, "typed\n");
  }
  // A console that is gone hands back to the default one.
  CaptureStdout();
  console::output("back");
  EXPECT_EQ(GetCapturedStdout(), "back");
}

TEST(ConsoleDeathTest, ErrorWritesItsMessageAndAborts) {
  // Standard output is sent to standard error, where the death test looks.
  EXPECT_EXIT((dup2(2, 1), console::error("fatal %d\n", 7)), testing::KilledBySignal(SIGABRT),
              "fatal 7");
}

}  // namespace
