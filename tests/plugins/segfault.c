/* Its start dies of a segmentation fault. */
#include <stdint.h>

#include "dawnstep/native_plugin.h"

/*
 * An unmapped, aligned, non-null address, hidden from the optimiser: a real
 * fault rather than a sanitizer's null-pointer report.
 */
static volatile uintptr_t unmapped = 16;

static int32_t Start(void) { return *(volatile int32_t*)unmapped; }

DAWNSTEP_PLUGIN_EXPORT const NativePluginMetadata metadata = {.version = 1};
DAWNSTEP_PLUGIN_EXPORT const NativePluginOperations operations = {.start = Start};
