#include "bench/roads/ChildProcess.h"

#include <csignal>
#include <stdexcept>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ZaduBench {

namespace {

volatile std::sig_atomic_t stopSignal = 0;

void onTerminate(int) {
  stopSignal = 1;
}

}  // namespace

bool stopRequested() {
  return stopSignal != 0;
}

void dieWithParent(pid_t parent, int signal) {
  prctl(PR_SET_PDEATHSIG, signal);
  if (getppid() != parent) {
    _exit(1);
  }
}

ChildProcess::ChildProcess(std::function<int()> const& body) {
  pid_t const parent = getpid();
  pid_ = fork();
  if (pid_ < 0) {
    throw std::runtime_error("fork failed");
  }
  if (pid_ == 0) {
    std::signal(SIGTERM, onTerminate);
    dieWithParent(parent, SIGTERM);  // the body sees stopRequested() and returns
    _exit(body());
  }
}

ChildProcess::ChildProcess(std::string const& program, std::vector<std::string> const& arguments) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (std::string const& argument : arguments) {
    argv.push_back(const_cast<char*>(argument.c_str()));
  }
  argv.push_back(nullptr);
  pid_t const parent = getpid();
  pid_ = fork();
  if (pid_ < 0) {
    throw std::runtime_error("fork failed");
  }
  if (pid_ == 0) {
    dieWithParent(parent, SIGTERM);  // the program dies of it
    int const null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
}

ChildProcess::~ChildProcess() {
  stop();
}

bool ChildProcess::exited() {
  if (pid_ < 0) {
    return true;
  }
  if (waitpid(pid_, &status_, WNOHANG) == pid_) {
    pid_ = -1;
    return true;
  }
  return false;
}

int ChildProcess::stop() {
  if (pid_ >= 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, &status_, 0);
    pid_ = -1;
  }
  return WIFSIGNALED(status_) ? 128 + WTERMSIG(status_) : WEXITSTATUS(status_);
}

}  // namespace ZaduBench
