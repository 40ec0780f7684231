// Fatal assertions.
//
// QUOR_ASSERT(condition) and QUOR_ASSERT_MSG(condition, message) check an
// invariant that no input can break. When it is broken they print one line to
// stderr, "Assertion failed: <condition as written> (<message>) in <function>
// at <file>:<line>", flush the trace output, and abort the process.
//
// Errors that outside input can cause are exceptions, never assertions.
#pragma once

namespace Quor {

[[noreturn]] void assertionFailed(char const* condition, char const* message, char const* file,
                                  unsigned line, char const* function) noexcept;

}  // namespace Quor

#define QUOR_ASSERT(condition)                                                    \
  do {                                                                            \
    if (!(condition)) [[unlikely]] {                                              \
      ::Quor::assertionFailed(#condition, nullptr, __FILE__, __LINE__, __func__); \
    }                                                                             \
  } while (false)

#define QUOR_ASSERT_MSG(condition, message)                                       \
  do {                                                                            \
    if (!(condition)) [[unlikely]] {                                              \
      ::Quor::assertionFailed(#condition, message, __FILE__, __LINE__, __func__); \
    }                                                                             \
  } while (false)
