#include "json/json_plugin.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>
#include <nlohmann/json.hpp>

#include "log/kernel_log.h"
#include "main/logging.h"
#include "platform/host_log.h"
#include "platform/root.h"

namespace dawnstep {
namespace {

using nlohmann::json;

const char kObject[] = "JsonObject";
const char kArray[] = "JsonArray";
const char kString[] = "JsonString";
const char kNumber[] = "JsonNumber";
const char kBool[] = "JsonBool";
// Every list element is named by this one path, whichever list it is in.
const char kElement[] = "i";

const int32_t kOldestApi = 1;
const int32_t kNewestApi = 5;

// `path` names the member as the loader's messages always have, `member`
// as the file spells it.
void Check(bool holds, const char* path, const char* kind, const char* member) {
  if (!holds) throw JsonException(path, kind, member);
}

// A missing member reads as null, so it fails its kind check like a member
// of the wrong kind.
const json& Member(const json& object, const char* key) {
  static const json null;
  auto found = object.find(key);
  return found == object.end() ? null : *found;
}

template <typename Container>
void ReadStrings(const json& array, const char* member, Container& into) {
  for (size_t i = 0; i < array.size(); ++i) {
    if (!array[i].is_string()) {
      throw JsonException(kElement, kString, member + ("[" + std::to_string(i) + "]"));
    }
    into.insert(into.end(), array[i].get<std::string>());
  }
}

template <typename Container>
void ReadStringArray(const json& object, const char* key, const char* path, const char* member,
                     Container& into) {
  const json& array = Member(object, key);
  Check(array.is_array(), path, kArray, member);
  ReadStrings(array, member, into);
}

// Toward zero, saturating at the limits. JSON has no NaN, but a parser may
// still hand one over; it counts as no version at all.
int32_t TruncateVersion(double number) {
  if (std::isnan(number)) return 0;
  if (number >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (number <= std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(number);
}

void ReadTags(const json& meta, Plugin& plugin) {
  ReadStringArray(meta, "provides", "meta[\"provides\"]", "metadata.provides", plugin.provides);
  ReadStringArray(meta, "requires", "meta[\"requires\"]", "metadata.requires", plugin.requires_);
}

void ReadVersion(const json& meta, Plugin& plugin) {
  const json& version = Member(meta, "version");
  Check(version.is_number(), "meta[\"version\"]", kNumber, "metadata.version");
  plugin.apiVersion = TruncateVersion(version.get<double>());
  if (plugin.apiVersion < kOldestApi || plugin.apiVersion > kNewestApi) {
    throw VersionException(plugin.apiVersion);
  }
}

void ReadCommands(const json& ops, JsonPlugin& plugin) {
  ReadStringArray(ops, "start", "ops[\"start\"]", "operations.start", plugin.startCommands);
  plugin.hostProfileAware = false;
  if (plugin.apiVersion >= 2 && ops.contains("apply_host_profile")) {
    ReadStringArray(ops, "apply_host_profile", "ops[\"apply_host_profile\"]",
                    "operations.apply_host_profile", plugin.hostProfileCommands);
    plugin.hostProfileAware = true;
  }
}

bool ReadBool(const json& meta, const char* key, const char* path, const char* member) {
  const json& value = Member(meta, key);
  Check(value.is_boolean(), path, kBool, member);
  return value.get<bool>();
}

void ReadSwitches(const json& meta, Plugin& plugin) {
  if (meta.contains("plugin_version")) {
    const json& version = Member(meta, "plugin_version");
    Check(version.is_string(), "meta[\"plugin_version\"]", kString, "metadata.plugin_version");
    plugin.pluginVersion = version.get<std::string>();
  }
  if (meta.contains("required_flags")) {
    ReadStringArray(meta, "required_flags", "meta[\"required_flags\"]", "metadata.required_flags",
                    plugin.requiredFlags);
  }
  // Only the elements are checked: a member that is no array adds nothing.
  const json& disablingFlags = Member(meta, "disabling_flags");
  if (disablingFlags.is_array()) {
    ReadStrings(disablingFlags, "metadata.disabling_flags", plugin.disablingFlags);
  }
  if (meta.contains("run_once") || plugin.apiVersion >= 3) {
    plugin.runOnce = ReadBool(meta, "run_once", "meta[\"run_once\"]", "metadata.run_once");
  }
  if (meta.contains("preemptive_provider")) {
    plugin.preemptiveProvider =
        ReadBool(meta, "preemptive_provider", "meta[\"preemptive_provider\"]",
                 "metadata.preemptive_provider");
  }
}

void ReadDocument(const json& document, JsonPlugin& plugin) {
  Check(document.is_object(), "value", kObject, "");
  const json& meta = Member(document, "metadata");
  Check(meta.is_object(), "plugin[\"metadata\"]", kObject, "metadata");
  const json& ops = Member(document, "operations");
  Check(ops.is_object(), "plugin[\"operations\"]", kObject, "operations");
  ReadTags(meta, plugin);
  ReadVersion(meta, plugin);
  ReadCommands(ops, plugin);
  ReadSwitches(meta, plugin);
}

// The file's text; empty when it cannot be read, so that it parses to no
// object and is reported as such. Opened without blocking: a FIFO or a
// device named as a plugin must not hold up the boot.
std::string ReadPluginFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return "";
  struct stat status {};
  if (fstat(fd, &status) != 0 || (!S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode))) {
    close(fd);
    throw Exception("Invalid plugin: %s: not a regular file", path.c_str());
  }
  std::string text;
  char buffer[65536];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) != 0) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  return text;
}

}  // namespace

std::string JsonPluginName(const std::string& path) {
  std::string base = path.substr(path.rfind('/') + 1);
  return base.substr(0, base.rfind('.'));
}

JsonPlugin::JsonPlugin(const std::string& path) : Plugin(JsonPluginName(path), {kJsonKind}, {}) {
  ReadDocument(json::parse(ReadPluginFile(path), nullptr, false), *this);
  if (startCommands.empty()) nothingToStart = true;
  Register();
}

void Plugin::LoadJsonPlugin(const std::string& path) { new JsonPlugin(path); }

bool JsonPlugin::Activate(ActivateFlags flags) {
  bool dryRun = IsDryRun(flags);
  if (!dryRun) {
    try {
      init_fds(RootPath("/var/log/dawnstep-orvocli-stdout.log").c_str());
    } catch (...) {
      Log_Level(2, "Failed to initialize logging.\n");
    }
  }
  bool hostProfile = ApplyHostProfiles(flags, hostProfileAware);
  const char* operation = hostProfile ? "apply_host_profile" : "start";
  std::vector<std::string> commands = hostProfile ? hostProfileCommands : startCommands;
  if (dryRun) std::cout << name << ": start" << std::endl;
  KernelLog() << "Applying " << operation << " on plugin " << name << std::endl;
  bool timeCommand = (flags & TimeOps) != 0;
  if (preemptiveProvider && IsPreemptivePluginsDisabled(flags)) {
    KernelLog() << "Plugin " << name << " skipped." << std::endl;
    return false;
  }
  std::vector<OrvocliException> failures = orvocli.Execute(commands, dryRun, timeCommand);
  for (const OrvocliException& failure : failures) {
    Log_Level(2, "Method invocation failed: %s\n", failure.what());
    for (const std::string& line : failure.errors) {
      Log_Level(2, "%s: %s\n", name.c_str(), line.c_str());
    }
  }
  return failures.empty();
}

}  // namespace dawnstep
