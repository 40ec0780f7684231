// Quor::System: the process's view of the system clock.
#pragma once

#include <cstdio>
#include <string>

namespace Quor {

class System {
 public:
  // Seconds since the Unix epoch, UTC, with sub-second precision.
  static double currentTimeUtc() noexcept;
  // The same to the kernel's last tick (a few milliseconds), at a fraction of
  // the cost: for statistics stamped on every operation.
  static double coarseTimeUtc() noexcept;
  // "YYYY-MM-DD HH:MM:SS.uuuuuu" (UTC) of a time given as currentTimeUtc does.
  static std::string timestampText(double secondsUtc);
  // The file named by the environment variable `variable`, opened for
  // appending; stderr when the variable is unset or empty, or when the file
  // cannot be opened (then with one warning on stderr). Never closed.
  static std::FILE* outputFile(char const* variable);
};

}  // namespace Quor
