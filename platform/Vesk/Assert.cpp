#include "Vesk/Assert.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace Vesk {

void assertionFailed(char const* condition, char const* message, char const* file, unsigned line,
                     char const* function) noexcept {
  char const* slash = std::strrchr(file, '/');
  if (message != nullptr) {
    std::fprintf(stderr, "Assertion failed: %s (%s) in %s at %s:%u\n", condition, message, function,
                 slash != nullptr ? slash + 1 : file, line);
  } else {
    std::fprintf(stderr, "Assertion failed: %s in %s at %s:%u\n", condition, function,
                 slash != nullptr ? slash + 1 : file, line);
  }
  std::fflush(nullptr);
  std::abort();
}

}  // namespace Vesk
