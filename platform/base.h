#pragma once

// Odds and ends of the host's base library.

#include <cstdarg>
#include <cstddef>

// A newly allocated formatted string, released with free(). Aborts when
// memory runs out, so callers never see null.
char* Str_SafeVasprintf(size_t* length, const char* format, va_list args);

// Readies the base library's feature-state module; nothing to do here.
void FeatureState_Init();
