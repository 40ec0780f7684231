// Exceptions of the entity runtime.
//
// Every error the runtime and the platform raise derives from Vesk::Exception,
// whose msg() is the text handed to logs and corruption handlers.
#pragma once

#include <stdexcept>
#include <string>

namespace Vesk {

class Exception : public std::runtime_error {
 public:
  explicit Exception(std::string const& message) : std::runtime_error(message) {}
  std::string msg() const { return what(); }
};

// A shared-memory record or collection failed its integrity check, or stayed
// inconsistent while a reader retried.
class CorruptionDetectedException : public Exception {
 public:
  using Exception::Exception;
};

// A null counted reference was passed where the attribute needs an object.
class NullArgumentException : public Exception {
 public:
  using Exception::Exception;
};

// A reflection call named no such member, passed the wrong number or types of
// arguments, or tried to set a read-only attribute.
class ReflectionError : public Exception {
 public:
  using Exception::Exception;
};

// A dynamic value was not of the type the receiver needs.
class TypeMismatchError : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace Vesk
