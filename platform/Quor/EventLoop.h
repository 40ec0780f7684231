// Quor::EventLoop: the single-threaded event loop of an agent.
//
// Serves file descriptors (epoll), one-shot timers and deferred tasks. The
// agent's work, the framework's resolver passes and the hardware side's
// progress notifications all run from it, one handler at a time.
//
// One turn of the loop:
//  1. wait for file descriptors: not at all when a task is deferred or a timer
//     is due, otherwise until the next timer is due (or for run's timeout);
//  2. call the handler of every ready file descriptor;
//  3. run every timer whose deadline has passed, by deadline, then in the
//     order the timers were made;
//  4. run the deferred tasks that were queued before this step began, in the
//     order they were deferred. A task deferred by one of them runs in the
//     next turn, after I/O has been served again, so a task that re-defers
//     itself cannot starve file descriptors and timers.
//
// Lifetime: objects that keep work on a loop (a group's poll timer, a
// resolver's scheduled pass) hold an EventLoop::Ref, which yields null once
// the loop is destroyed, so that they and the loop may go in either order: a
// client that returns from main with its interfaces still registered in the
// process exits cleanly.
//
// Thread safety: everything but post() and stop() belongs to the loop's
// thread. post() and stop() may be called from any thread; they wake the loop
// through an eventfd.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace Quor {

class EventLoop {
 public:
  using Task = std::function<void()>;
  using FdHandler = std::function<void(std::uint32_t events)>;
  using Clock = std::chrono::steady_clock;
  using TimerId = std::uint64_t;

  // A reference to a loop that knows when the loop is gone. A default Ref,
  // or one made from a null pointer, refers to no loop.
  class Ref {
   public:
    Ref() = default;
    // NOLINTNEXTLINE(google-explicit-constructor): a loop pointer converts.
    Ref(EventLoop* loop) : slot_(loop != nullptr ? loop->self_ : nullptr) {}
    // The loop, or null when there is none or it was destroyed.
    EventLoop* get() const noexcept { return slot_ ? *slot_ : nullptr; }

   private:
    std::shared_ptr<EventLoop*> slot_;
  };

  // Raises std::system_error when epoll or the eventfd cannot be made.
  EventLoop();
  ~EventLoop();
  EventLoop(EventLoop const&) = delete;
  EventLoop& operator=(EventLoop const&) = delete;

  // Watches `fd` for `events` (EPOLLIN, EPOLLOUT, ...), replacing an earlier
  // watch of the same fd. The loop does not own the fd. Raises
  // std::system_error when epoll refuses the fd.
  void fdIs(int fd, std::uint32_t events, FdHandler handler);
  // Stops watching `fd`; does nothing when it is not watched.
  void fdDel(int fd);

  // Runs `task` once, in the turn after the current one began.
  void defer(Task task);
  // As defer, from any thread.
  void post(Task task);

  // Runs `task` once, `delay` from now. Returns an id for timerDel.
  TimerId timerIs(Clock::duration delay, Task task);
  // Cancels a timer that has not run; returns false when it had run or was
  // cancelled already.
  bool timerDel(TimerId id);

  // Runs turns until stop() is called.
  void run();
  // Ends run() after the current turn; callable from any thread.
  void stop();
  // Runs turns, waiting for events, until `duration` has passed or stop().
  void runFor(Clock::duration duration);
  // Runs turns without waiting while any deferred task, due timer or ready fd
  // is left; returns the number of handlers, timers and tasks run. Timers due
  // later are left alone.
  std::size_t runUntilIdle();

  std::size_t pendingTasks() const noexcept { return deferred_.size(); }
  std::size_t pendingTimers() const noexcept { return timers_.size(); }

 private:
  struct TimerKey {
    Clock::time_point deadline;
    TimerId id;
    auto operator<=>(TimerKey const&) const = default;
  };

  // One turn; waits at most `maximumWait` (zero: not at all). Returns the
  // number of handlers, timers and tasks run.
  std::size_t turn(Clock::duration maximumWait);
  void takePosted();

  // Cleared by the destructor; shared with every Ref.
  std::shared_ptr<EventLoop*> self_ = std::make_shared<EventLoop*>(this);
  int epollFd_ = -1;
  int wakeFd_ = -1;
  bool stopRequested_ = false;
  std::unordered_map<int, FdHandler> fdHandlers_;
  std::deque<Task> deferred_;
  std::map<TimerKey, Task> timers_;
  std::unordered_map<TimerId, Clock::time_point> timerDeadlines_;
  // The nodes of the last timer that fired, kept for the next timerIs: a
  // timer that sets itself again from its task (a status poll) allocates
  // nothing after its first round.
  std::map<TimerKey, Task>::node_type spareTimer_;
  std::unordered_map<TimerId, Clock::time_point>::node_type spareDeadline_;
  TimerId nextTimerId_ = 1;

  std::mutex postedMutex_;
  std::vector<Task> posted_;
};

}  // namespace Quor
