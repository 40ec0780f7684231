#include "Quor/EventLoop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <system_error>

namespace Quor {

namespace {

[[noreturn]] void throwSystemError(char const* what) {
  throw std::system_error(errno, std::generic_category(), what);
}

}  // namespace

EventLoop::EventLoop() {
  epollFd_ = epoll_create1(EPOLL_CLOEXEC);
  if (epollFd_ < 0) {
    throwSystemError("epoll_create1");
  }
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) {
    int const saved = errno;
    close(epollFd_);
    errno = saved;
    throwSystemError("eventfd");
  }
  fdIs(wakeFd_, EPOLLIN, [this](std::uint32_t) {
    std::uint64_t count = 0;
    while (read(wakeFd_, &count, sizeof(count)) > 0) {
    }
    takePosted();
  });
}

EventLoop::~EventLoop() {
  *self_ = nullptr;
  close(wakeFd_);
  close(epollFd_);
}

void EventLoop::fdIs(int fd, std::uint32_t events, FdHandler handler) {
  epoll_event event{};
  event.events = events;
  event.data.fd = fd;
  bool const known = fdHandlers_.contains(fd);
  if (epoll_ctl(epollFd_, known ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &event) != 0) {
    throwSystemError("epoll_ctl");
  }
  fdHandlers_[fd] = std::move(handler);
}

void EventLoop::fdDel(int fd) {
  if (fdHandlers_.erase(fd) > 0) {
    epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd, nullptr);
  }
}

void EventLoop::defer(Task task) {
  deferred_.push_back(std::move(task));
}

void EventLoop::post(Task task) {
  {
    std::lock_guard lock(postedMutex_);
    posted_.push_back(std::move(task));
  }
  std::uint64_t const one = 1;
  [[maybe_unused]] auto const written = write(wakeFd_, &one, sizeof(one));
}

void EventLoop::takePosted() {
  std::vector<Task> taken;
  {
    std::lock_guard lock(postedMutex_);
    taken.swap(posted_);
  }
  for (Task& task : taken) {
    deferred_.push_back(std::move(task));
  }
}

EventLoop::TimerId EventLoop::timerIs(Clock::duration delay, Task task) {
  TimerId const id = nextTimerId_++;
  Clock::time_point const deadline = Clock::now() + delay;
  if (spareTimer_.empty()) {
    timers_.emplace(TimerKey{deadline, id}, std::move(task));
  } else {
    spareTimer_.key() = TimerKey{deadline, id};
    spareTimer_.mapped() = std::move(task);
    timers_.insert(std::move(spareTimer_));
  }
  if (spareDeadline_.empty()) {
    timerDeadlines_.emplace(id, deadline);
  } else {
    spareDeadline_.key() = id;
    spareDeadline_.mapped() = deadline;
    timerDeadlines_.insert(std::move(spareDeadline_));
  }
  return id;
}

bool EventLoop::timerDel(TimerId id) {
  auto const found = timerDeadlines_.find(id);
  if (found == timerDeadlines_.end()) {
    return false;
  }
  timers_.erase(TimerKey{found->second, id});
  timerDeadlines_.erase(found);
  return true;
}

std::size_t EventLoop::turn(Clock::duration maximumWait) {
  Clock::duration wait = maximumWait;
  if (!deferred_.empty()) {
    wait = Clock::duration::zero();
  } else if (!timers_.empty()) {
    Clock::duration const untilTimer = timers_.begin()->first.deadline - Clock::now();
    wait = std::max(Clock::duration::zero(), std::min(wait, untilTimer));
  }
  // Round up, so that a timer due in 0.3 ms does not make a busy loop.
  int const waitMs = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());

  std::array<epoll_event, 64> events{};
  int ready = epoll_wait(epollFd_, events.data(), static_cast<int>(events.size()), waitMs);
  if (ready < 0) {
    if (errno != EINTR) {
      throwSystemError("epoll_wait");
    }
    ready = 0;
  }

  std::size_t ran = 0;
  for (int i = 0; i < ready; ++i) {
    auto const handler = fdHandlers_.find(events[static_cast<std::size_t>(i)].data.fd);
    if (handler != fdHandlers_.end()) {
      // A copy: the handler may replace or remove its own watch.
      FdHandler const call = handler->second;
      call(events[static_cast<std::size_t>(i)].events);
      ++ran;
    }
  }

  Clock::time_point const now = Clock::now();
  while (!timers_.empty() && timers_.begin()->first.deadline <= now) {
    auto fired = timers_.extract(timers_.begin());
    Task task = std::move(fired.mapped());
    fired.mapped() = nullptr;  // the spare node holds nothing of the task
    spareDeadline_ = timerDeadlines_.extract(fired.key().id);
    spareTimer_ = std::move(fired);
    task();
    ++ran;
  }

  for (std::size_t due = deferred_.size(); due > 0 && !deferred_.empty(); --due) {
    Task task = std::move(deferred_.front());
    deferred_.pop_front();
    task();
    ++ran;
  }
  return ran;
}

void EventLoop::run() {
  stopRequested_ = false;
  while (!stopRequested_) {
    turn(std::chrono::hours(1));
  }
}

void EventLoop::stop() {
  post([this] { stopRequested_ = true; });
}

void EventLoop::runFor(Clock::duration duration) {
  stopRequested_ = false;
  Clock::time_point const end = Clock::now() + duration;
  for (Clock::time_point now = Clock::now(); now < end && !stopRequested_; now = Clock::now()) {
    turn(end - now);
  }
}

std::size_t EventLoop::runUntilIdle() {
  std::size_t total = 0;
  for (std::size_t ran = turn(Clock::duration::zero()); ran > 0;
       ran = turn(Clock::duration::zero())) {
    total += ran;
  }
  return total;
}

}  // namespace Quor
