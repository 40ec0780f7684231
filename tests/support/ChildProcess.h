// Runs a function in a forked child process, with a pipe from the child to
// the parent. The child ends with _exit, never returning into the test
// runner.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>

namespace ZaduTest {

class ChildProcess {
 public:
  // Forks; the child runs `body` with the write end of the pipe and exits with
  // its result (an exception gives 100).
  explicit ChildProcess(std::function<int(int writeFd)> const& body) {
    int fds[2];
    if (pipe(fds) != 0 || pipe(toChild_) != 0 || (pid_ = fork()) < 0) {
      throw std::runtime_error("pipe or fork failed");
    }
    if (pid_ == 0) {
      close(fds[0]);
      close(toChild_[1]);
      childReadFd = toChild_[0];
      int code = 100;
      try {
        code = body(fds[1]);
      } catch (std::exception const& error) {
        std::fprintf(stderr, "child process %d: %s\n", getpid(), error.what());
      }
      _exit(code);
    }
    close(fds[1]);
    close(toChild_[0]);
    readFd_ = fds[0];
  }
  ~ChildProcess() {
    if (pid_ > 0 && !reaped_) {
      killNow();
    }
    close(readFd_);
    close(toChild_[1]);
  }
  ChildProcess(ChildProcess const&) = delete;
  ChildProcess& operator=(ChildProcess const&) = delete;

  pid_t pid() const { return pid_; }

  // Parent: lets a child blocked in waitForParent go on.
  void tellChild() { sendToChild(char{1}); }
  // Child: blocks until the parent calls tellChild.
  static void waitForParent() { readFromParent<char>(); }
  // Parent: sends a fixed-size message to the child.
  template <class Message>
  void sendToChild(Message const& message) {
    [[maybe_unused]] auto const written = write(toChild_[1], &message, sizeof(Message));
  }
  // Child: whether a message from the parent is waiting.
  static bool parentSent() {
    pollfd waiting{childReadFd, POLLIN, 0};
    return poll(&waiting, 1, 0) == 1;
  }
  // Child: blocks until the parent's next message.
  template <class Message>
  static Message readFromParent() {
    Message message;
    readFully(childReadFd, &message, sizeof(Message));
    return message;
  }

  // Kills the child with SIGKILL and waits for it; returns what wait does.
  int killNow() {
    kill(pid_, SIGKILL);
    return wait();
  }
  // Waits for the child; returns its exit code, or 128 + signal.
  int wait() {
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    reaped_ = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  // Blocks until the child sends one message.
  template <class Message>
  Message readOne() {
    Message message;
    readFully(readFd_, &message, sizeof(Message));
    return message;
  }

 private:
  static void readFully(int fd, void* into, std::size_t bytes) {
    std::size_t got = 0;
    while (got < bytes) {
      ssize_t const n = read(fd, static_cast<char*>(into) + got, bytes - got);
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n <= 0) {
        throw std::runtime_error("the other process closed its pipe");
      }
      got += static_cast<std::size_t>(n);
    }
  }

  static inline int childReadFd = -1;
  pid_t pid_ = -1;
  int toChild_[2] = {-1, -1};
  int readFd_ = -1;
  bool reaped_ = false;
};

template <class Message>
void sendMessage(int fd, Message const& message) {
  [[maybe_unused]] auto const written = write(fd, &message, sizeof(Message));
}

// A knob for long runs: the environment variable's value, or `fallback`.
inline long knob(char const* variable, long fallback) {
  char const* value = std::getenv(variable);
  return value != nullptr && *value != '\0' ? std::atol(value) : fallback;
}

// Runs `loop` until `done` holds, for at most `seconds`; returns done().
template <class Loop, class Done>
bool runUntil(Loop& loop, Done const& done, int seconds = 5) {
  auto const end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done() && std::chrono::steady_clock::now() < end) {
    loop.runFor(std::chrono::milliseconds(1));
  }
  return done();
}

// Runs `command` through the shell and returns what it printed, followed by
// " (status N)" when it did not exit with 0.
inline std::string runCommand(std::string const& command) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return "popen failed";
  }
  char buffer[512];
  std::string output;
  while (std::fgets(buffer, sizeof(buffer), pipe) != nullptr) {
    output += buffer;
  }
  int const status = pclose(pipe);
  return status == 0 ? output : output + " (status " + std::to_string(status) + ")";
}

}  // namespace ZaduTest
