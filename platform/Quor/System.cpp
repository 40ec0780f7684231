#include "Quor/System.h"

#include <fmt/format.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace Quor {

namespace {

double secondsOf(clockid_t clock) noexcept {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

double System::currentTimeUtc() noexcept {
  return secondsOf(CLOCK_REALTIME);
}

double System::coarseTimeUtc() noexcept {
  return secondsOf(CLOCK_REALTIME_COARSE);
}

std::string System::timestampText(double secondsUtc) {
  double wholeSeconds = 0;
  double const fraction = std::modf(secondsUtc, &wholeSeconds);
  std::time_t const seconds = static_cast<std::time_t>(wholeSeconds);
  std::tm calendar{};
  gmtime_r(&seconds, &calendar);
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}.{:06}", calendar.tm_year + 1900,
                     calendar.tm_mon + 1, calendar.tm_mday, calendar.tm_hour, calendar.tm_min,
                     calendar.tm_sec, static_cast<int>(fraction * 1e6));
}

std::FILE* System::outputFile(char const* variable) {
  char const* path = std::getenv(variable);
  if (path == nullptr || *path == '\0') {
    return stderr;
  }
  if (std::FILE* file = std::fopen(path, "a")) {
    return file;
  }
  std::fprintf(stderr, "%s: cannot open %s (%s); writing to stderr\n", variable, path,
               std::strerror(errno));
  return stderr;
}

}  // namespace Quor
