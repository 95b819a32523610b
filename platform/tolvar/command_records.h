#pragma once

// The command framework's request and reply records.

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace Tolvar {

// (name, value) pairs in the order the caller gave them.
using Parameters = std::vector<std::pair<std::string, std::string>>;

namespace CallSpec {

// What a caller asks of a command.
class Input {
 public:
  void SetDispatcher(const std::string& name) { dispatcher = name; }
  void SetCommandPath(const std::vector<std::string>& words) { commandPath = words; }
  void AddParameter(const std::string& name, const std::string& value) {
    parameters.emplace_back(name, value);
  }

  const std::string& GetDispatcher() const { return dispatcher; }
  const std::vector<std::string>& GetCommandPath() const { return commandPath; }
  const Parameters& GetParameters() const { return parameters; }

 private:
  std::string dispatcher;
  std::vector<std::string> commandPath;
  Parameters parameters;
};

// What became of a command: its error lines, none when it succeeded.
class Output {
 public:
  bool HasError() const { return !errors.empty(); }
  const std::vector<std::string>& GetErrors() const { return errors; }
  void AddError(const std::string& line) { errors.push_back(line); }

 private:
  std::vector<std::string> errors;
};

}  // namespace CallSpec

namespace AutoCli {

class CommandInput : public CallSpec::Input {
 public:
  static std::shared_ptr<CommandInput> New();
};

class CommandOutput : public CallSpec::Output {
 public:
  static std::shared_ptr<CommandOutput> New();
};

}  // namespace AutoCli
}  // namespace Tolvar
