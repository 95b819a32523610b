/*
 * A version 1 library that exports only what version 1 defines: a 24-byte
 * record and a one-entry table. Reading past either is caught by the
 * address sanitizer.
 */
#include <stdint.h>
#include <stdio.h>

struct ShortMetadata {
  int32_t version;
  const char* const* requires_;
  const char* const* provides;
};

struct ShortOperations {
  int32_t (*start)(void);
};

static int32_t Start(void) {
  puts("v1-short: start ran");
  fflush(stdout);
  return 0;
}

__attribute__((visibility("default"))) const struct ShortMetadata metadata = {1, NULL, NULL};
__attribute__((visibility("default"))) const struct ShortOperations operations = {Start};
