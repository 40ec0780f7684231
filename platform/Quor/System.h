// Quor::System: the process's view of the system clock.
#pragma once

#include <string>

namespace Quor {

class System {
 public:
  // Seconds since the Unix epoch, UTC, with sub-second precision.
  static double currentTimeUtc() noexcept;
  // "YYYY-MM-DD HH:MM:SS.uuuuuu" (UTC) of a time given as currentTimeUtc does.
  static std::string timestampText(double secondsUtc);
};

}  // namespace Quor
