#include "Quor/EventLoop.h"

#include <gtest/gtest.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Deferred tasks run in order, re-deferred ones in the next turn; timers by
// deadline then creation, and can be cancelled.
TEST(EventLoopTest, TasksRunInOrderTimersByDeadlineThenCreationAndCanBeCancelled) {
  Quor::EventLoop loop;
  std::vector<std::string> order;
  loop.defer([&] {
    order.push_back("a");
    loop.defer([&] { order.push_back("c"); });
  });
  loop.defer([&] { order.push_back("b"); });
  EXPECT_EQ(loop.runUntilIdle(), 3u);
  EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(loop.runUntilIdle(), 0u);

  std::vector<int> fired;
  loop.timerIs(300ms, [&] { fired.push_back(3); });
  auto const cancelled = loop.timerIs(5ms, [&] { fired.push_back(99); });
  loop.timerIs(0ms, [&] { fired.push_back(1); });
  loop.timerIs(0ms, [&] { fired.push_back(2); });
  EXPECT_TRUE(loop.timerDel(cancelled));
  EXPECT_FALSE(loop.timerDel(cancelled));

  loop.runUntilIdle();
  EXPECT_EQ(fired, (std::vector<int>{1, 2}));  // the 300 ms timer is not waited for
  loop.runFor(600ms);
  EXPECT_EQ(fired, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(loop.pendingTimers(), 0u);
}

// A timer set again from its own task (the status poll's pattern) takes the
// storage of the one that just fired; it keeps firing in deadline order and
// can still be cancelled, and other timers are unaffected.
TEST(EventLoopTest, ATimerSetAgainFromItsTaskKeepsFiringAndCanBeCancelled) {
  Quor::EventLoop loop;
  std::vector<int> fired;
  Quor::EventLoop::TimerId poll = 0;
  std::function<void()> again = [&] {
    fired.push_back(static_cast<int>(fired.size()));
    if (fired.size() < 4) {
      poll = loop.timerIs(0ms, again);
    }
  };
  poll = loop.timerIs(0ms, again);
  for (int turns = 0; turns < 10 && fired.size() < 4; ++turns) {
    loop.runUntilIdle();
  }
  EXPECT_EQ(fired, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(loop.pendingTimers(), 0u);

  loop.timerIs(0ms, [&] { fired.push_back(10); });
  loop.runUntilIdle();  // leaves its storage spare
  poll = loop.timerIs(1h, [&] { fired.push_back(99); });
  loop.timerIs(0ms, [&] { fired.push_back(11); });
  EXPECT_TRUE(loop.timerDel(poll));
  loop.runUntilIdle();
  EXPECT_EQ(fired.back(), 11);
  EXPECT_EQ(loop.pendingTimers(), 0u);
}

TEST(EventLoopTest, ReadyFileDescriptorsComeFirstAndPostAndStopWorkFromOtherThreads) {
  Quor::EventLoop loop;
  int pipeFds[2];
  ASSERT_EQ(pipe(pipeFds), 0);
  std::vector<std::string> order;
  loop.fdIs(pipeFds[0], EPOLLIN, [&](std::uint32_t events) {
    EXPECT_TRUE(events & EPOLLIN);
    char byte;
    ASSERT_EQ(read(pipeFds[0], &byte, 1), 1);
    order.push_back("fd");
  });
  loop.defer([&] { order.push_back("task"); });
  loop.timerIs(0ms, [&] { order.push_back("timer"); });
  ASSERT_EQ(write(pipeFds[1], "x", 1), 1);
  std::this_thread::sleep_for(1ms);
  loop.runUntilIdle();
  EXPECT_EQ(order, (std::vector<std::string>{"fd", "timer", "task"}));

  loop.fdDel(pipeFds[0]);
  ASSERT_EQ(write(pipeFds[1], "x", 1), 1);
  EXPECT_EQ(loop.runUntilIdle(), 0u);
  close(pipeFds[0]);
  close(pipeFds[1]);

  // Post and stop work from other threads.
  int ran = 0;
  std::thread poster([&] {
    for (int i = 0; i < 100; ++i) {
      loop.post([&] { ++ran; });
    }
    loop.stop();
  });
  loop.run();
  poster.join();
  loop.runUntilIdle();
  EXPECT_EQ(ran, 100);
}

}  // namespace
