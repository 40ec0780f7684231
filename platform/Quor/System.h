// Quor::System: the process's view of the system clock.
#pragma once

#include <cstdio>
#include <string>

namespace Quor {

class System {
 public:
  // Seconds since the Unix epoch, UTC, with sub-second precision.
  static double currentTimeUtc() noexcept;
  // "YYYY-MM-DD HH:MM:SS.uuuuuu" (UTC) of a time given as currentTimeUtc does.
  static std::string timestampText(double secondsUtc);
  // The file named by the environment variable `variable`, opened for
  // appending; stderr when the variable is unset or empty, or when the file
  // cannot be opened (then with one warning on stderr). Never closed.
  static std::FILE* outputFile(char const* variable);
};

}  // namespace Quor
