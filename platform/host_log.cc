#include "platform/host_log.h"

#include <cstdarg>
#include <cstdio>

void Log_Level(int level, const char* format, ...) {
  fprintf(stderr, "[%d] ", level);
  va_list args;
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
}

void Warning(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
  fputc('\n', stderr);
}
