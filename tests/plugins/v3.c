/*
 * Version 3 exporting only the 56 bytes that version 3 defines, with no
 * plugin version; its start fails with status 3.
 */
#include <stdint.h>
#include <stdio.h>

struct Version3Metadata {
  int32_t version;
  const char* const* requires_;
  const char* const* provides;
  const char* plugin_version;
  uint8_t run_once;
  const char* const* required_flags;
  const char* const* disabling_flags;
};

struct Operations {
  int32_t (*start)(void);
  int32_t (*apply_host_profile)(void);
};

static const char* const provides_tags[] = {"time", NULL};
static const char* const required_flags[] = {"fa", "fb", "fa", NULL};

static int32_t Start(void) {
  puts("v3: start ran");
  fflush(stdout);
  return 3;
}

__attribute__((visibility("default"))) const struct Version3Metadata metadata = {
    3, NULL, provides_tags, NULL, 1, required_flags, NULL};
__attribute__((visibility("default"))) const struct Operations operations = {Start, NULL};
