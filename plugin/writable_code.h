#pragma once

#include <string>
#include <vector>

namespace Tolvar::AutoCli {
class Dispatcher;
}

namespace dawnstep {

// A path holding code that runs as root at boot which any local user may
// change. A directory counts whether or not its sticky bit is set: the bit
// keeps others' files from being replaced, but anyone may still add a
// plugin or a descriptor that is then run.
struct WritableCode {
  const char* kind;  // "plugin file", "command handler", ...
  std::string path;

  std::string Message() const { return std::string(kind) + " " + path + " is writable by others"; }
};

// The paths writable by others among the plugin directories, the plugin
// files, and the directories, descriptors and handlers of `commands` (none
// when null), in that order.
std::vector<WritableCode> FindWritableCode(const std::vector<std::string>& pluginDirectories,
                                           const std::vector<std::string>& pluginFiles,
                                           const Tolvar::AutoCli::Dispatcher* commands);

}  // namespace dawnstep
