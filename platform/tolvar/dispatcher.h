#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/tolvar/command_descriptor.h"
#include "platform/tolvar/command_records.h"

namespace Tolvar::AutoCli {

// Finds commands in the descriptor files of its directories and runs their
// handlers as separate programs.
class Dispatcher {
 public:
  Dispatcher() = default;
  Dispatcher(const Dispatcher&) = delete;
  Dispatcher& operator=(const Dispatcher&) = delete;

  // Reads the ".json" descriptors of `directory` itself (not of its
  // subdirectories). A command path defined before keeps its definition.
  void AddExternalDirectory(const std::string& directory);

  // Checks the input against the command's declaration and runs its
  // handler; every failure becomes an error line of `output`.
  void ExecuteCommand(std::shared_ptr<CommandInput> input,
                      std::shared_ptr<CommandOutput> output);

  // The error lines ExecuteCommand would give for this command before
  // starting its handler; runs nothing.
  std::vector<std::string> Check(const std::vector<std::string>& commandPath,
                                 const Parameters& parameters) const;

  const std::vector<std::string>& Directories() const { return directories; }
  // Every descriptor file found, also those that could not be read.
  const std::vector<std::string>& Descriptors() const { return descriptors; }
  // The handlers of the commands defined, each once, in byte order.
  std::vector<std::string> Handlers() const;

 private:
  // The command `path` names, with its handler's arguments in `arguments`;
  // nullptr, with the reasons in `errors`, when the handler may not run.
  const CommandDefinition* Prepare(const std::string& path, const Parameters& given,
                                   std::vector<std::string>& arguments,
                                   std::vector<std::string>& errors) const;

  std::vector<std::string> directories;
  std::vector<std::string> descriptors;
  std::map<std::string, CommandDefinition> commands;
};

}  // namespace Tolvar::AutoCli
