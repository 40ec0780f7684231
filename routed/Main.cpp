// zadulpm-routed: the agent daemon under a routing suite. Keeps the
// switch's units equal to the suite's IPv4 FIB, taken from FRR's zebra over
// FPM (default) or from the kernel's main table (--kernel), through restarts
// of either: a restarted daemon restores every unit from shared memory and
// writes only what the suite's replay changed. Runs until SIGTERM or SIGINT;
// SIGUSR1 prints statistics.
#include <signal.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>

#include "CommandLine/CommandLine.h"
#include "Pantry/Segment.h"
#include "routed/FpmListener.h"
#include "routed/KernelFollower.h"
#include "routed/RouteDaemon.h"

namespace {

// Takes SIGTERM, SIGINT and SIGUSR1 through a signalfd on the loop.
class Signals {
 public:
  // The signals it takes, blocked from the start of main: one that comes
  // while the units are restored waits for the loop instead of ending the
  // process.
  static sigset_t block() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGUSR1);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    return set;
  }

  Signals(ZaduRouted::RouteDaemon& daemon, sigset_t const& set) : daemon_(daemon) {
    fd_ = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    daemon_.eventLoop().fdIs(fd_, EPOLLIN, [this](std::uint32_t) { ready(); });
  }
  ~Signals() {
    daemon_.eventLoop().fdDel(fd_);
    close(fd_);
  }
  Signals(Signals const&) = delete;
  Signals& operator=(Signals const&) = delete;

 private:
  void ready() {
    signalfd_siginfo info;
    while (read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      if (info.ssi_signo == SIGUSR1) {
        std::fprintf(stderr, "zadulpm-routed: statistics: %s\n", daemon_.statistics().c_str());
      } else {
        daemon_.eventLoop().stop();
      }
    }
  }

  ZaduRouted::RouteDaemon& daemon_;
  int fd_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
  sigset_t const signalSet = Signals::block();
  CLI::App app{
      "zadulpm-routed: keeps the switch's units equal to a routing suite's IPv4 FIB, taken from "
      "FRR's zebra over FPM or from the kernel's main table. Restores the units from shared "
      "memory at start (warm restart). Stops on SIGTERM or SIGINT; prints statistics on "
      "SIGUSR1."};
  CommandLine::nameProgram(app, "zadulpm-routed");
  ZaduRouted::DaemonOptions options;
  std::string root;
  std::string fpm = "127.0.0.1:2620";
  bool kernel = false;
  bool allowRemote = false;
  std::string placement = "all";
  double quiet = 2.0;
  double bound = 60.0;
  app.add_option("--root", root, "shared-memory root (default: ZADU_SHM_ROOT, /dev/shm/zadulpm)")
      ->check(CommandLine::sharedMemoryRootCheck);
  CLI::Option* const fpmOption =
      app.add_option("--fpm", fpm, "listen for FPM on ADDRESS:PORT")->capture_default_str();
  app.add_flag("--kernel", kernel,
               "follow the kernel's IPv4 main table of this network namespace instead of FPM")
      ->excludes(fpmOption);
  app.add_flag("--allow-remote", allowRemote,
               "listen for FPM on an address that is not loopback (whoever connects programs "
               "the switch)");
  app.add_option("--units", options.units, "units, 0 to N-1")
      ->capture_default_str()
      ->check(CLI::Range(1, 4096));
  app.add_option("--placement", placement,
                 "all: every route on every unit; hash: each route on the unit its prefix's "
                 "hash picks")
      ->capture_default_str()
      ->check(CLI::IsMember({"all", "hash"}));
  app.add_option("--resync-quiet", quiet,
                 "seconds without a message, after the first, that end an FPM replay")
      ->capture_default_str()
      ->check(CLI::Range(0.05, 3600.0));
  app.add_option("--resync-shortfall", options.shortfall,
                 "the share of the routes held that an FPM replay may lack and still end on "
                 "--resync-quiet")
      ->capture_default_str()
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--resync-bound", bound,
                 "seconds after an FPM connection by which its replay is taken as ended")
      ->capture_default_str()
      ->check(CLI::Range(0.1, 86400.0));
  app.failure_message([](CLI::App const*, CLI::Error const& error) {
    return CommandLine::oneLineFailure("zadulpm-routed", error);
  });
  CLI11_PARSE(app, argc, argv);
  if (!root.empty()) {
    setenv("ZADU_SHM_ROOT", root.c_str(), 1);
  }
  options.placement =
      placement == "hash" ? ZaduRouted::Placement::hash : ZaduRouted::Placement::all;
  options.quiet = std::chrono::milliseconds(static_cast<long>(quiet * 1000));
  options.bound = std::chrono::milliseconds(static_cast<long>(bound * 1000));
  options.byMetric = kernel;
  options.sourceName = kernel ? "kernel" : "fpm";
  try {
    sockaddr_in const address = ZaduRouted::parseListenAddress(fpm);
    ZaduRouted::RouteDaemon daemon(options);
    Signals const signals(daemon, signalSet);
    std::unique_ptr<ZaduRouted::FpmListener> listener;
    std::unique_ptr<ZaduRouted::KernelFollower> follower;
    if (kernel) {
      follower = std::make_unique<ZaduRouted::KernelFollower>(daemon);
    } else {
      listener = std::make_unique<ZaduRouted::FpmListener>(daemon, address, allowRemote);
    }
    daemon.eventLoop().run();
    listener.reset();
    follower.reset();
    bool const drained = daemon.drain(std::chrono::seconds(5));
    std::fprintf(stderr, "zadulpm-routed: stopping%s; statistics: %s\n",
                 drained ? "" : " with operations unanswered (is zadulpm-hw running?)",
                 daemon.statistics().c_str());
    return 0;
  } catch (Pantry::WriterConflictError const& error) {
    return CommandLine::failure("zadulpm-routed", 1, error, "another agent is running: ");
  } catch (std::invalid_argument const& error) {
    return CommandLine::failure("zadulpm-routed", 2, error);
  } catch (std::exception const& error) {
    return CommandLine::failure("zadulpm-routed", 1, error);
  }
}
