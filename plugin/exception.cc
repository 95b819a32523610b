#include "plugin/exception.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "platform/base.h"

namespace dawnstep {

Exception::Exception(const char* format, ...) {
  va_list args;
  va_start(args, format);
  message = Str_SafeVasprintf(nullptr, format, args);
  va_end(args);
}

Exception::Exception(const Exception& other) : std::exception(other) {
  message = strdup(other.message);
  if (message == nullptr) abort();
}

Exception::~Exception() { free(message); }

const char* Exception::what() const noexcept { return message; }

}  // namespace dawnstep
