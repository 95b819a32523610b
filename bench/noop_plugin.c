/*
 * A native plugin that does nothing, built once as a template for the
 * whole-run benchmark. Its tags are fixed-width placeholders that the
 * benchmark script overwrites in each copy, so that 2,000 plugins cost two
 * compilations. With CHAIN defined it also requires one tag.
 */
#include <stddef.h>

#include "dawnstep/native_plugin.h"

static const char* const provides_tags[] = {"PROVIDES_TAG_PLACEHOLDER", NULL};
#ifdef CHAIN
static const char* const requires_tags[] = {"REQUIRES_TAG_PLACEHOLDER", NULL};
#else
static const char* const requires_tags[] = {NULL};
#endif

static int32_t Start(void) { return 0; }

DAWNSTEP_PLUGIN_EXPORT const NativePluginMetadata metadata = {
    .version = 1,
    .requires_ = requires_tags,
    .provides = provides_tags,
};

DAWNSTEP_PLUGIN_EXPORT const NativePluginOperations operations = {.start = Start};
