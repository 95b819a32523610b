#include "platform/base.h"

#include <cstdio>
#include <cstdlib>

char* Str_SafeVasprintf(size_t* length, const char* format, va_list args) {
  char* text = nullptr;
  int written = vasprintf(&text, format, args);
  if (written < 0) abort();
  if (length != nullptr) *length = static_cast<size_t>(written);
  return text;
}

void FeatureState_Init() {}
