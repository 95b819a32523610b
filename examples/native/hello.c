/*
 * An example native plugin: runs after the network is up and reports the
 * host's name. What it prints lands in the native plugin log file.
 */
#define _POSIX_C_SOURCE 200809L /* gethostname under -std=c11 */

#include <dawnstep/native_plugin.h>
#include <stdio.h>
#include <unistd.h>

static const char* const requires_tags[] = {"network", NULL};
static const char* const provides_tags[] = {"greeting", NULL};

static int32_t Start(void) {
  char host[256];
  if (gethostname(host, sizeof host) != 0) {
    perror("gethostname");
    return 1;
  }
  host[sizeof host - 1] = '\0';
  printf("hello from %s\n", host);
  fflush(stdout);
  return 0;
}

DAWNSTEP_PLUGIN_EXPORT const NativePluginMetadata metadata = {
    .version = 3,
    .requires_ = requires_tags,
    .provides = provides_tags,
    .plugin_version = "1.0",
    .run_once = 0,
    .required_flags = NULL,
    .disabling_flags = NULL,
};

DAWNSTEP_PLUGIN_EXPORT const NativePluginOperations operations = {
    .start = Start,
    .apply_host_profile = NULL,
};
