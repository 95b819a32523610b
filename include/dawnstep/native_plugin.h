/*
 * The contract between dawnstep and a native plugin library.
 *
 * A native plugin is a shared library installed under a name ending in
 * ".so" in a plugin directory. It exports two data symbols, by these exact
 * names:
 *
 *   metadata    a NativePluginMetadata record
 *   operations  a NativePluginOperations table
 *
 * Both are read through pointers to the library's own memory, so every
 * string and list they point at must live as long as the library (string
 * literals and static arrays do). The layout is the 64-bit C ABI one and
 * is checked below at compile time.
 *
 * Usable from C (C11 or later) and C++.
 */
#ifndef DAWNSTEP_NATIVE_PLUGIN_H_
#define DAWNSTEP_NATIVE_PLUGIN_H_

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The API versions this header describes. */
#define DAWNSTEP_NATIVE_API_VERSION_MIN 1
#define DAWNSTEP_NATIVE_API_VERSION_MAX 5

/*
 * Marks the definitions of `metadata` and `operations` so that they are
 * exported with C linkage, also from C++ (where a const object at namespace
 * scope would otherwise be local to its file) and under
 * -fvisibility=hidden.
 */
#ifdef __cplusplus
#define DAWNSTEP_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#else
#define DAWNSTEP_PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

/*
 * A tag or flag list: an array of pointers to NUL-terminated strings,
 * ended by a null pointer. A null list means no entries.
 */
typedef const char* const* NativePluginStringList;

typedef struct NativePluginMetadata {
  /* API version, 1 to 5. Selects which of the fields below are read. */
  int32_t version;
  /*
   * Tags that no pending plugin may still provide when this one starts.
   * Named with a trailing underscore because "requires" is a C++ keyword.
   */
  NativePluginStringList requires_;
  /* Tags this plugin provides. */
  NativePluginStringList provides;

  /* From version 3 on; a version 1 or 2 library may end its record here. */
  const char* plugin_version; /* version text, or null for none */
  uint8_t run_once;           /* non-zero: run on one boot only */
  NativePluginStringList required_flags;
  NativePluginStringList disabling_flags;

  /* From version 5 on; a version 3 or 4 library may end its record here. */
  uint8_t preemptive_provider; /* non-zero: preempts other providers of its tags */
} NativePluginMetadata;

/* An entry point: returns 0 for success, anything else for failure. */
typedef int32_t (*NativePluginEntry)(void);

typedef struct NativePluginOperations {
  /* The plugin's work; null means there is nothing to do. */
  NativePluginEntry start;
  /*
   * Runs instead of `start` while a host profile is being applied. Read
   * from version 2 on; null means the plugin takes no part in it.
   */
  NativePluginEntry apply_host_profile;
} NativePluginOperations;

#ifdef __cplusplus
#define DAWNSTEP_LAYOUT_CHECK(condition, message) static_assert(condition, message)
#else
#define DAWNSTEP_LAYOUT_CHECK(condition, message) _Static_assert(condition, message)
#endif

DAWNSTEP_LAYOUT_CHECK(sizeof(void*) == 8, "native plugins need a 64-bit ABI");
DAWNSTEP_LAYOUT_CHECK(offsetof(NativePluginMetadata, version) == 0, "version at 0");
DAWNSTEP_LAYOUT_CHECK(offsetof(NativePluginMetadata, requires_) == 8, "requires at 8");
DAWNSTEP_LAYOUT_CHECK(offsetof(NativePluginMetadata, provides) == 16, "provides at 16");
DAWNSTEP_LAYOUT_CHECK(offsetof(NativePluginMetadata, plugin_version) == 24,
                      "plugin_version at 24");
DAWNSTEP_LAYOUT_CHECK(offsetof(NativePluginMetadata, run_once) == 32, "run_once at 32");
DAWNSTEP_LAYOUT_CHECK(offsetof(NativePluginMetadata, required_flags) == 40,
                      "required_flags at 40");
DAWNSTEP_LAYOUT_CHECK(offsetof(NativePluginMetadata, disabling_flags) == 48,
                      "disabling_flags at 48");
DAWNSTEP_LAYOUT_CHECK(offsetof(NativePluginMetadata, preemptive_provider) == 56,
                      "preemptive_provider at 56");
DAWNSTEP_LAYOUT_CHECK(offsetof(NativePluginOperations, start) == 0, "start at 0");
DAWNSTEP_LAYOUT_CHECK(offsetof(NativePluginOperations, apply_host_profile) == 8,
                      "apply_host_profile at 8");

#undef DAWNSTEP_LAYOUT_CHECK

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* DAWNSTEP_NATIVE_PLUGIN_H_ */
