#pragma once

#include <cstdint>
#include <exception>

namespace dawnstep {

// The base of the system's own failures: a printf-style message.
class Exception : public std::exception {
 public:
  explicit Exception(const char* format, ...) __attribute__((format(printf, 2, 3)));
  Exception(const Exception& other);
  Exception& operator=(const Exception&) = delete;
  ~Exception() override;

  const char* what() const noexcept override;

 private:
  char* message;
};

class VersionException : public Exception {
 public:
  using Exception::Exception;
  // The refusal both plugin readers give. Formatted here because an
  // inherited constructor cannot pass variadic arguments on.
  explicit VersionException(int32_t version)
      : Exception("%s: %d", "Unsupported API version", version) {}
};

}  // namespace dawnstep
