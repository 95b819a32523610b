#pragma once

#include <string>
#include <vector>

#include "cli/orvocli.h"
#include "plugin/plugin.h"

namespace dawnstep {

// A file member or element of the wrong kind. The message names it as the
// loader always has (meta["provides"], 'i' for any element); `member` as the
// file spells it (metadata.requires[1]), empty for the whole document.
class JsonException : public Exception {
 public:
  JsonException(const char* path, const char* kind, std::string member)
      : Exception("'%s' is not a '%s'", path, kind), member(std::move(member)) {}

  const std::string member;
};

// A plugin written as a JSON file: tags, switches and the management command
// lines of its "start" and "apply_host_profile" operations. Constructing one
// reads and checks the file, then registers the plugin.
class JsonPlugin final : public Plugin {
 public:
  explicit JsonPlugin(const std::string& path);

  bool Activate(ActivateFlags flags) override;

  std::vector<std::string> startCommands;
  std::vector<std::string> hostProfileCommands;
  Orvocli orvocli;
};

// The plugin name a file gets: its base name without the last extension.
std::string JsonPluginName(const std::string& path);

}  // namespace dawnstep
