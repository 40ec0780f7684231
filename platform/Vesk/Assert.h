// Fatal assertions, the lowest layer's: everything above may use them.
//
// VESK_ASSERT(condition), VESK_ASSERT_MSG(condition, message) and
// VESK_ASSERT_TEXT(condition, text) check an invariant that no input can
// break. When it is broken they print one line to stderr, "Assertion failed:
// <condition> (<message>) in <function> at <file>:<line>", flush the trace
// output, and abort the process. <condition> is the condition as written, or
// `text` for VESK_ASSERT_TEXT, whose callers print a condition spelled as the
// operator knows it.
//
// Errors that outside input can cause are exceptions, never assertions.
#pragma once

namespace Vesk {

[[noreturn]] void assertionFailed(char const* condition, char const* message, char const* file,
                                  unsigned line, char const* function) noexcept;

}  // namespace Vesk

#define VESK_ASSERT_FAILED(text, message) \
  ::Vesk::assertionFailed(text, message, __FILE__, __LINE__, __func__)

#define VESK_ASSERT(condition)                 \
  do {                                         \
    if (!(condition)) [[unlikely]] {           \
      VESK_ASSERT_FAILED(#condition, nullptr); \
    }                                          \
  } while (false)

#define VESK_ASSERT_MSG(condition, message)    \
  do {                                         \
    if (!(condition)) [[unlikely]] {           \
      VESK_ASSERT_FAILED(#condition, message); \
    }                                          \
  } while (false)

#define VESK_ASSERT_TEXT(condition, text) \
  do {                                    \
    if (!(condition)) [[unlikely]] {      \
      VESK_ASSERT_FAILED(text, nullptr);  \
    }                                     \
  } while (false)

#define VESK_ASSERT_TEXT_MSG(condition, text, message) \
  do {                                                 \
    if (!(condition)) [[unlikely]] {                   \
      VESK_ASSERT_FAILED(text, message);               \
    }                                                  \
  } while (false)
