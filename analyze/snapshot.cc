#include "analyze/snapshot.h"

#include <algorithm>
#include <set>

#include "analyze/critical_chain.h"
#include "analyze/json_output.h"
#include "analyze/time_report.h"

namespace dawnstep::analyze {
namespace {

nlohmann::json Tags(const TagSet& tags) {
  nlohmann::json names = nlohmann::json::array();
  for (const std::string& tag : tags) names.push_back(ValidUtf8(tag));
  return names;
}

nlohmann::json PluginJson(const Boot& boot, const PluginRun& run) {
  std::optional<Micros> offset, duration;
  if (run.record != nullptr) {
    offset = run.record->start - boot.profile.Origin();
    duration = run.record->Duration();
  }
  nlohmann::json provides, requires_;
  if (run.installed) {
    const PluginInfo& info = boot.graph.plugins()[*run.installed];
    provides = Tags(info.provides);
    requires_ = Tags(info.requires_);
  }
  return {{"name", ValidUtf8(run.name)}, {"outcome", OutcomeText(run.outcome)},
          {"offset_us", ValueOrNull(offset)},  {"duration_us", ValueOrNull(duration)},
          {"provides", provides},         {"requires", requires_}};
}

const nlohmann::json& Member(const nlohmann::json& object, const std::string& where,
                             const char* key) {
  auto found = object.find(key);
  if (found == object.end()) throw SnapshotError(where + "no member \"" + key + "\"");
  return *found;
}

SnapshotError NotA(const std::string& where, const char* key, const char* kind) {
  return SnapshotError(where + "member \"" + key + "\" is not " + kind);
}

std::string Text(const nlohmann::json& object, const std::string& where, const char* key) {
  const nlohmann::json& value = Member(object, where, key);
  if (!value.is_string()) throw NotA(where, key, "a string");
  return value;
}

std::optional<Micros> Micro(const nlohmann::json& object, const std::string& where,
                            const char* key) {
  const nlohmann::json& value = Member(object, where, key);
  if (value.is_null()) return std::nullopt;
  if (!value.is_number_integer()) throw NotA(where, key, "a whole number or null");
  // Far beyond any boot, and small enough that differences cannot overflow.
  const Micros largest = Micros{1} << 52;
  bool inRange = value.is_number_unsigned()
                     ? value.get<uint64_t>() <= uint64_t{largest}
                     : value.get<Micros>() >= -largest && value.get<Micros>() <= largest;
  if (!inRange) {
    throw SnapshotError(where + "member \"" + key + "\" is out of range");
  }
  return value.get<Micros>();
}

const nlohmann::json& Array(const nlohmann::json& object, const char* key) {
  const nlohmann::json& value = Member(object, "", key);
  if (!value.is_array()) throw NotA("", key, "an array");
  return value;
}

SnapshotPlugin ReadPlugin(const nlohmann::json& plugin, size_t index) {
  std::string where = "plugins[" + std::to_string(index) + "]: ";
  if (!plugin.is_object()) throw SnapshotError(where + "not an object");
  return {Text(plugin, where, "name"), Text(plugin, where, "outcome"),
          Micro(plugin, where, "offset_us"), Micro(plugin, where, "duration_us")};
}

// The end of the chain's last plugin, counted from the start.
std::optional<Micros> ChainEnd(const SnapshotSummary& summary, const nlohmann::json& chain) {
  if (chain.empty()) return std::nullopt;
  for (const SnapshotPlugin& plugin : summary.plugins) {
    if (plugin.name == chain.back() && plugin.offset && plugin.duration) {
      return *plugin.offset + *plugin.duration;
    }
  }
  return std::nullopt;
}

}  // namespace

nlohmann::json SnapshotJson(const Boot& boot, const std::string& host, const std::string& version) {
  TimeReport times = MakeTimeReport(boot);
  nlohmann::json chain = nlohmann::json::array();
  std::vector<ChainLink> links = CriticalChain(boot.profile, boot.graph, "");
  for (auto link = links.rbegin(); link != links.rend(); ++link) {
    chain.push_back(ValidUtf8(link->activation->name));
  }
  nlohmann::json plugins = nlohmann::json::array();
  for (const PluginRun& run : boot.plugins) plugins.push_back(PluginJson(boot, run));
  std::optional<std::string> start;
  if (boot.profile.start) start = FormatProfileTime(*boot.profile.start);
  std::optional<bool> unmet;
  if (boot.haveRecords) unmet = boot.records.unmetDependencies;
  return {{"schema", kSnapshotSchema},
          {"host", ValidUtf8(host)},
          {"dawnstep_version", version},
          {"boot_start", ValueOrNull(start)},
          {"kernel_us", ValueOrNull(times.kernel)},
          {"activation_us", ValueOrNull(times.activation)},
          {"critical_chain", chain},
          {"unmet_dependencies", ValueOrNull(unmet)},
          {"plugins", plugins}};
}

SnapshotSummary ReadSnapshot(const nlohmann::json& document) {
  if (!document.is_object() || !document.contains("schema")) {
    throw SnapshotError("not a dawnstep snapshot (no \"schema\" member)");
  }
  const nlohmann::json& schema = document["schema"];
  if (schema != kSnapshotSchema) {
    throw SnapshotError("snapshot schema " + schema.dump() + "; this version reads schema " +
                        std::to_string(kSnapshotSchema));
  }
  SnapshotSummary summary;
  summary.activation = Micro(document, "", "activation_us");
  const nlohmann::json& plugins = Array(document, "plugins");
  std::set<std::string> seen;
  for (size_t i = 0; i < plugins.size(); ++i) {
    summary.plugins.push_back(ReadPlugin(plugins[i], i));
    if (!seen.insert(summary.plugins.back().name).second) {
      throw SnapshotError("plugin '" + summary.plugins.back().name + "' is listed twice");
    }
  }
  const nlohmann::json& chain = Array(document, "critical_chain");
  if (!std::all_of(chain.begin(), chain.end(), [](auto& name) { return name.is_string(); })) {
    throw NotA("", "critical_chain", "an array of names");
  }
  summary.criticalChain = ChainEnd(summary, chain);
  return summary;
}

}  // namespace dawnstep::analyze
