#include "native/native_plugin.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <memory>

#include "dawnstep/native_plugin.h"
#include "log/kernel_log.h"
#include "native/library_file.h"
#include "native/library_probe.h"
#include "main/logging.h"
#include "platform/host_log.h"
#include "platform/process_id.h"
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


// Bounds on what a record may point at, so that a missing terminator is an
// error rather than a walk through the whole address space.
const size_t kMaxEntries = 4096;
const size_t kMaxText = 65536;
const size_t kChunk = 4096;  // no larger than a page: a chunk never spans two

// Copies library memory without trusting its address: an unmapped one is
// an error for the library, not a fault for this process.
size_t CopyOut(void* into, uintptr_t from, size_t size) {
  iovec local{into, size};
  iovec remote{reinterpret_cast<void*>(from), size};
  ssize_t got = process_vm_readv(ProcessId(), &local, 1, &remote, 1, 0);
  return got < 0 ? 0 : static_cast<size_t>(got);
}

// The longest copy from `from` that stays within its page.
size_t ChunkAt(uintptr_t from) { return kChunk - from % kChunk; }

[[noreturn]] void Unreadable(const char* field) {
  throw Exception("Invalid plugin: '%s' points at unreadable memory", field);
}

std::string CopyText(const char* text, const char* field) {
  std::string copy;
  auto from = reinterpret_cast<uintptr_t>(text);
  while (copy.size() < kMaxText) {
    char chunk[kChunk];
    size_t got = CopyOut(chunk, from, ChunkAt(from));
    if (got == 0) Unreadable(field);
    const void* end = memchr(chunk, '\0', got);
    if (end != nullptr) return copy.append(chunk, static_cast<const char*>(end) - chunk);
    copy.append(chunk, got);
    from += got;
  }
  throw Exception("Invalid plugin: a string of '%s' has no end within %zu bytes", field,
                  kMaxText);
}

void AddStrings(NativePluginStringList list, TagSet& into, const char* field) {
  auto from = reinterpret_cast<uintptr_t>(list);
  if (from == 0) return;
  for (size_t entries = 0;;) {
    // Whole entries: one that straddles two pages is read across them.
    const char* chunk[kChunk / sizeof(const char*) + 1];
    size_t want = (ChunkAt(from) + sizeof(const char*) - 1) / sizeof(const char*);
    size_t got = CopyOut(chunk, from, want * sizeof(const char*));
    if (got < sizeof(const char*)) Unreadable(field);
    for (size_t i = 0; i < got / sizeof(const char*); ++i, ++entries) {
      if (chunk[i] == nullptr) return;
      if (entries == kMaxEntries) {
        throw Exception("Invalid plugin: '%s' has no end within %zu entries", field,
                        kMaxEntries);
      }
      into.insert(CopyText(chunk[i], field));
    }
    from += got / sizeof(const char*) * sizeof(const char*);
  }
}

// The part of a metadata record that its version defines.
size_t MetadataSize(int32_t version) {
  if (version < 3) return offsetof(NativePluginMetadata, plugin_version);
  if (version < 5) return offsetof(NativePluginMetadata, preemptive_provider);
  return offsetof(NativePluginMetadata, preemptive_provider) + 1;
}

// Copies `size` bytes of the record named `symbol` at `address`; a symbol
// whose table entry gives it fewer bytes is not such a record.
void CopyRecord(void* into, const void* address, size_t size, const char* symbol) {
  Dl_info info{};
  void* symbolEntry = nullptr;
  bool found = dladdr1(address, &info, &symbolEntry, RTLD_DL_SYMENT) != 0;
  const auto* entry = static_cast<const ElfW(Sym)*>(symbolEntry);
  if (found &&
      entry != nullptr && entry->st_size != 0 && entry->st_size < size) {
    throw Exception("Invalid plugin: '%s' is %zu bytes long, its version needs %zu", symbol,
                    static_cast<size_t>(entry->st_size), size);
  }
  if (CopyOut(into, reinterpret_cast<uintptr_t>(address), size) != size) Unreadable(symbol);
}

// Library constructors run inside dlopen: an exception from one must end
// the process (a probe, see LibraryProbe), not unwind through the loader.
// The C library declares dlopen as throwing nothing, which would let the
// compiler leave out the handler that ends the process; called through a
// pointer it cannot see through, it keeps it.
void* OpenLibrary(const std::string& path) noexcept {
  void* (*volatile open)(const char*, int) = dlopen;
  return open(path.c_str(), RTLD_LAZY | RTLD_GLOBAL);
}

// The dynamic loader refused the file. Whether it does may depend on the
// plugin libraries loaded before it, whose symbols it may need.
class LoaderRefusal : public Exception {
 public:
  explicit LoaderRefusal(const char* reason) : Exception("Invalid plugin: %s", reason) {}
};

const uint32_t kLoaderRefusal = LibraryProbe::kFailed + 1;

LibraryProbe*& CurrentProbe() {
  static LibraryProbe* probe = nullptr;
  return probe;
}

// Loading refusals travel as their text: the loader reports only that.
LibraryProbe::Verdict ProbeLoad(const std::string& path) {
  try {
    return {0, NativePlugin::LoadUnregistered(path)};
  } catch (const LoaderRefusal& e) {
    return {LooksLikeSharedObject(path) ? kLoaderRefusal : LibraryProbe::kFailed, e.what()};
  } catch (const std::exception& e) {
    return {LibraryProbe::kFailed, e.what()};
  }
}

// A probe forked now tries the library with what this process has loaded.
LibraryProbe::Verdict JudgeNow(const std::string& path) {
  return LibraryProbe({path}, ProbeLoad).Judge(path);
}

}  // namespace

std::string NativePluginName(const std::string& path) {
  std::string name = path.substr(path.rfind('/') + 1);
  name.erase(name.rfind('.'));  // npos when there is no ".": out_of_range
  if (name.starts_with("lib")) name.erase(0, 3);
  return name;
}

bool IsNativePluginPath(const std::string& path) { return path.ends_with(".so"); }

void Plugin::ProbeNativePlugins(const std::vector<std::string>& paths) {
  delete CurrentProbe();
  CurrentProbe() = nullptr;
  std::vector<std::string> native;
  std::copy_if(paths.begin(), paths.end(), std::back_inserter(native), IsNativePluginPath);
  if (!native.empty()) CurrentProbe() = new LibraryProbe(std::move(native), ProbeLoad);
}

void Plugin::LoadNativePlugin(const std::string& path) {
  // A path that gives no name fails here, before any loading, as it always has.
  NativePluginName(path);
  LibraryProbe* probe = CurrentProbe();
  bool listed = probe != nullptr && probe->Expects(path);
  LibraryProbe::Verdict verdict = listed ? probe->Judge(path) : JudgeNow(path);
  // The listed libraries are tried each on its own, without the plugin
  // libraries this process has loaded since the probe began; a refusal by
  // the loader is tried again with them.
  if (listed && verdict.refusal == kLoaderRefusal) verdict = JudgeNow(path);
  if (verdict.refusal != 0) throw Exception("%s", verdict.text.c_str());
  new NativePlugin(path, verdict.text);
}

std::string NativePlugin::LoadUnregistered(const std::string& path) {
  NativePlugin* plugin = new NativePlugin(path);
  // Destructors run when the process exits: they are tried here too.
  dlclose(plugin->library);
  plugin->library = nullptr;
  return plugin->PackedMetadata();
}

NativePlugin::NativePlugin(const std::string& path)
    : Plugin(NativePluginName(path), {kNativeKind}, {}) {
  // Only the probe opens a file it knows nothing of; the main process opens
  // what the probe found fit.
  CheckLibraryFile(path);
  Open(path);
  try {
    ReadMetadata();
  } catch (...) {
    // Nothing of a rejected library may stay mapped, whatever went wrong.
    dlclose(library);
    library = nullptr;
    throw;
  }
}

NativePlugin::NativePlugin(const std::string& path, const std::string& packedMetadata)
    : Plugin(NativePluginName(path), {kNativeKind}, {}) {
  Open(path);
  UnpackMetadata(packedMetadata);
  Register();
}

void NativePlugin::Open(const std::string& path) {
  library = OpenLibrary(path);
  if (library == nullptr) {
    const char* reason = dlerror();
    throw LoaderRefusal(reason != nullptr ? reason : path.c_str());
  }
}

// Fields end in a NUL, which no C string of a library holds; a list is its
// length and then its elements.
std::string NativePlugin::PackedMetadata() const {
  std::string packed;
  auto field = [&packed](const std::string& text) { packed.append(text).push_back('\0'); };
  for (int32_t number : {apiVersion, int32_t{runOnce}, int32_t{preemptiveProvider},
                         int32_t{hostProfileAware}}) {
    field(std::to_string(number));
  }
  field(pluginVersion);
  for (const TagSet* list : {&provides, &requires_, &requiredFlags, &disablingFlags}) {
    field(std::to_string(list->size()));
    for (const std::string& element : *list) field(element);
  }
  return packed;
}

void NativePlugin::UnpackMetadata(const std::string& packed) {
  size_t at = 0;
  auto field = [&packed, &at]() {
    size_t end = packed.find('\0', at);
    if (end == std::string::npos) throw Exception("Invalid plugin: probe: metadata cut short");
    std::string text = packed.substr(at, end - at);
    at = end + 1;
    return text;
  };
  apiVersion = std::stoi(field());
  runOnce = field() == "1";
  preemptiveProvider = field() == "1";
  hostProfileAware = field() == "1";
  pluginVersion = field();
  for (TagSet* list : {&provides, &requires_, &requiredFlags, &disablingFlags}) {
    for (size_t count = std::stoul(field()); count > 0; --count) list->insert(field());
  }
}

// Reads only the fields that the record's version defines: an older
// library may end its record (and its operations table) before the rest.
// Everything is copied out through CopyOut: the record is the library's
// word only on what it holds, not on where it points.
void NativePlugin::ReadMetadata() {
  const void* metaAddress = Symbol(library, "metadata");
  const void* opsAddress = Symbol(library, "operations");
  NativePluginMetadata meta{};
  if (CopyOut(&meta.version, reinterpret_cast<uintptr_t>(metaAddress), sizeof meta.version) !=
      sizeof meta.version) {
    Unreadable("metadata");
  }
  apiVersion = meta.version;
  if (apiVersion < DAWNSTEP_NATIVE_API_VERSION_MIN ||
      apiVersion > DAWNSTEP_NATIVE_API_VERSION_MAX) {
    throw VersionException(apiVersion);
  }
  CopyRecord(&meta, metaAddress, MetadataSize(apiVersion), "metadata");
  if (apiVersion != 1) {
    NativePluginOperations ops{};
    CopyRecord(&ops, opsAddress, sizeof ops, "operations");
    hostProfileAware = ops.apply_host_profile != nullptr;
  }
  AddStrings(meta.provides, provides, "provides");
  AddStrings(meta.requires_, requires_, "requires");
  if (apiVersion >= 3) {
    if (meta.plugin_version != nullptr) {
      pluginVersion = CopyText(meta.plugin_version, "plugin_version");
    }
    AddStrings(meta.required_flags, requiredFlags, "required_flags");
    AddStrings(meta.disabling_flags, disablingFlags, "disabling_flags");
    runOnce = meta.run_once != 0;
  }
  if (apiVersion == 5) preemptiveProvider = meta.preemptive_provider != 0;
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
      pid_t self = getpid();
      status = entry();
      // A process that plugin code forked and let return is not this
      // worker: answering as it would garble the run.
      if (getpid() != self) _exit(status == 0 ? 0 : 1);
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
