#pragma once

#include <string>
#include <vector>

namespace Tolvar::AutoCli {

enum class ParameterType { String, Boolean, Integer };

struct ParameterDefinition {
  std::string name;
  std::string shortName;  // empty or one character
  ParameterType type = ParameterType::String;
  bool required = false;
};

struct CommandDefinition {
  std::string path;     // the command path words joined by single blanks
  std::string handler;  // the executable, as it is to be opened
  std::vector<ParameterDefinition> parameters;
};

// The name a type has in descriptors and error lines.
const char* TypeName(ParameterType type);

// Reads the commands of the descriptor `file` in `directory`. A relative
// handler is taken relative to `directory`, an absolute one under the root.
// Throws std::runtime_error saying what is wrong with an unreadable or
// malformed descriptor.
std::vector<CommandDefinition> ReadDescriptor(const std::string& directory,
                                              const std::string& file);

}  // namespace Tolvar::AutoCli
