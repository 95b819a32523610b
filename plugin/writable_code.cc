#include "plugin/writable_code.h"

#include "platform/file_system.h"
#include "platform/tolvar/dispatcher.h"

namespace dawnstep {
namespace {

void AddWritable(const char* kind, const std::vector<std::string>& paths,
                 std::vector<WritableCode>& found) {
  for (const std::string& path : paths) {
    if (WritableByOthers(path)) found.push_back({kind, path});
  }
}

}  // namespace

std::vector<WritableCode> FindWritableCode(const std::vector<std::string>& pluginDirectories,
                                           const std::vector<std::string>& pluginFiles,
                                           const Tolvar::AutoCli::Dispatcher* commands) {
  std::vector<WritableCode> found;
  AddWritable("plugin directory", pluginDirectories, found);
  AddWritable("plugin file", pluginFiles, found);
  if (commands != nullptr) {
    AddWritable("command directory", commands->Directories(), found);
    AddWritable("command descriptor", commands->Descriptors(), found);
    AddWritable("command handler", commands->Handlers(), found);
  }
  return found;
}

}  // namespace dawnstep
