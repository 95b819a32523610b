#include "native/native_plugin.h"

#include <dlfcn.h>

#include <iostream>

#include "dawnstep/native_plugin.h"
#include "log/kernel_log.h"
#include "native/library_file.h"
#include "main/logging.h"
#include "platform/host_log.h"
#include "platform/root.h"

namespace dawnstep {
namespace {

const char kLogFile[] = "/var/log/dawnstep-native-stdout.log";
const char kStart[] = "start";
const char kApplyHostProfile[] = "apply_host_profile";

const void* Symbol(void* library, const char* symbol) {
  const void* address = dlsym(library, symbol);
  if (address == nullptr) throw SymbolException(symbol);
  return address;
}


void AddStrings(NativePluginStringList list, TagSet& into) {
  if (list == nullptr) return;
  for (; *list != nullptr; ++list) into.insert(*list);
}

}  // namespace

std::string NativePluginName(const std::string& path) {
  std::string name = path.substr(path.rfind('/') + 1);
  name.erase(name.rfind('.'));  // npos when there is no ".": out_of_range
  if (name.starts_with("lib")) name.erase(0, 3);
  return name;
}

void Plugin::LoadNativePlugin(const std::string& path) { new NativePlugin(path); }

NativePlugin::NativePlugin(const std::string& path)
    : Plugin(NativePluginName(path), {kNativeKind}, {}) {
  CheckLibraryFile(path);
  library = dlopen(path.c_str(), RTLD_LAZY | RTLD_GLOBAL);
  if (library == nullptr) {
    const char* reason = dlerror();
    throw Exception("Invalid plugin: %s", reason != nullptr ? reason : path.c_str());
  }
  try {
    ReadMetadata();
  } catch (...) {
    // Nothing of a rejected library may stay mapped, whatever went wrong.
    dlclose(library);
    library = nullptr;
    throw;
  }
  Register();
}

// Reads only the fields that the record's version defines: an older
// library may end its record (and its operations table) before the rest.
void NativePlugin::ReadMetadata() {
  const auto* meta = static_cast<const NativePluginMetadata*>(Symbol(library, "metadata"));
  const auto* ops = static_cast<const NativePluginOperations*>(Symbol(library, "operations"));
  apiVersion = meta->version;
  if (apiVersion < DAWNSTEP_NATIVE_API_VERSION_MIN ||
      apiVersion > DAWNSTEP_NATIVE_API_VERSION_MAX) {
    throw VersionException(apiVersion);
  }
  hostProfileAware = apiVersion != 1 && ops->apply_host_profile != nullptr;
  AddStrings(meta->provides, provides);
  AddStrings(meta->requires_, requires_);
  if (apiVersion >= 3) {
    if (meta->plugin_version != nullptr) pluginVersion = meta->plugin_version;
    AddStrings(meta->required_flags, requiredFlags);
    AddStrings(meta->disabling_flags, disablingFlags);
    runOnce = meta->run_once != 0;
  }
  if (apiVersion == 5) preemptiveProvider = meta->preemptive_provider != 0;
}

bool NativePlugin::Activate(ActivateFlags flags) {
  if (IsDryRun(flags)) {
    std::cout << name << ": start" << std::endl;
    return false;
  }
  try {
    init_fds(RootPath(kLogFile).c_str());
  } catch (...) {
    Log_Level(2, "Failed to initialize logging.\n");
  }
  bool applyingProfile = ApplyHostProfiles(flags, hostProfileAware);
  const char* method = applyingProfile ? kApplyHostProfile : kStart;
  if (preemptiveProvider && IsPreemptivePluginsDisabled(flags)) {
    KernelLog() << "Plugin " << name << " skipped." << std::endl;
    return false;
  }
  Log_Level(5, "Invoking method %s on plugin %s\n", method, name.c_str());
  try {
    const auto* ops =
        static_cast<const NativePluginOperations*>(Symbol(library, "operations"));
    NativePluginEntry entry = applyingProfile ? ops->apply_host_profile : ops->start;
    int32_t status = 0;
    // A null entry is nothing to do. The host-profile entry was non-null
    // at load time, but the table is the library's to change.
    if (entry != nullptr) {
      KernelLog() << "Applying " << method << " on plugin " << name << std::endl;
      status = entry();
    }
    if (status != 0) {
      Log_Level(2, "Plugin %s failed Invoking method %s (rc=%d)\n", name.c_str(), method,
                status);
      return false;
    }
    Log_Level(5, "Method %s executed successfully for plugin %s\n", method, name.c_str());
    return true;
  } catch (const std::exception& e) {
    Log_Level(2, "Plugin %s failed Invoking method %s - %s\n", name.c_str(), method, e.what());
  } catch (...) {
    Log_Level(2, "Plugin %s failed Invoking method %s\n", name.c_str(), method);
  }
  return false;
}

}  // namespace dawnstep

#if defined(__SANITIZE_ADDRESS__)
// Every plugin library defines "metadata" and "operations" by contract, so
// a sanitized process that loads two sanitized plugins would take them for
// a one-definition-rule violation and abort. ASAN_OPTIONS still overrides.
extern "C" const char* __asan_default_options() { return "detect_odr_violation=0"; }
#endif
