// The hardware-side processes of the roads: started by fork (and exec for a
// program), stopped by SIGTERM, reaped before the road returns.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace ZaduBench {

class ChildProcess {
 public:
  // Runs `body` in a child process, which exits with its result.
  explicit ChildProcess(std::function<int()> const& body);
  // Runs `program` with `arguments`; its output goes to /dev/null.
  ChildProcess(std::string const& program, std::vector<std::string> const& arguments);
  // Stops the child if it still runs.
  ~ChildProcess();
  ChildProcess(ChildProcess const&) = delete;
  ChildProcess& operator=(ChildProcess const&) = delete;

  // SIGTERM, then waits; returns the exit status (128 + signal when killed).
  int stop();
  // Whether the child has exited (reaps it when so).
  bool exited();

 private:
  pid_t pid_ = -1;
  int status_ = 0;
};

// Set by SIGTERM in a child made from a body; the body's loop ends on it.
bool stopRequested();

// In a child just forked from `parent`: the child gets `signal` when its
// parent dies (and exits at once if the parent is already gone), so that no
// process of a road outlives the process that started it.
void dieWithParent(pid_t parent, int signal);

}  // namespace ZaduBench
