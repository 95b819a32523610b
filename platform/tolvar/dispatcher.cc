#include "platform/tolvar/dispatcher.h"

#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iostream>
#include <set>
#include <sstream>
#include <system_error>

#include "platform/host_log.h"
#include "platform/tolvar/handler_process.h"

namespace Tolvar::AutoCli {
namespace {

bool IsRegularFile(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// The descriptor files of `directory`, sorted so that the first definition
// of a command does not depend on the listing order.
std::vector<std::string> DescriptorFiles(const std::string& directory) {
  std::vector<std::string> files;
  DIR* listing = opendir(directory.c_str());
  if (listing == nullptr) {
    if (errno != ENOENT) {
      Warning("Cannot read command directory %s: %s", directory.c_str(), strerror(errno));
    }
    return files;
  }
  while (const dirent* entry = readdir(listing)) {
    std::string name = entry->d_name;
    std::string path = directory + "/" + name;
    if (name.ends_with(".json") && IsRegularFile(path)) files.push_back(path);
  }
  closedir(listing);
  std::sort(files.begin(), files.end());
  return files;
}

std::string Join(const std::vector<std::string>& words) {
  std::string joined;
  for (size_t i = 0; i < words.size(); ++i) joined += (i == 0 ? "" : " ") + words[i];
  return joined;
}

bool IsBooleanText(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
    return static_cast<char>(std::tolower(c));
  });
  for (const char* word : {"true", "false", "yes", "no", "1", "0"}) {
    if (text == word) return true;
  }
  return false;
}

bool IsIntegerText(const std::string& text) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  // A sign may appear once: from_chars takes a "-" itself, so "+-5" must
  // not reach it.
  if (end - begin > 1 && *begin == '+' && begin[1] != '-') ++begin;
  int64_t value;
  auto [stop, error] = std::from_chars(begin, end, value);
  return begin != end && error == std::errc() && stop == end;
}

bool IsValid(ParameterType type, const std::string& value) {
  switch (type) {
    case ParameterType::Boolean:
      return IsBooleanText(value);
    case ParameterType::Integer:
      return IsIntegerText(value);
    case ParameterType::String:
      break;
  }
  return true;
}

bool Names(const ParameterDefinition& parameter, const std::string& name) {
  return name == parameter.name || (!parameter.shortName.empty() && name == parameter.shortName);
}

const ParameterDefinition* Declared(const CommandDefinition& command, const std::string& name) {
  for (const ParameterDefinition& parameter : command.parameters) {
    if (Names(parameter, name)) return &parameter;
  }
  return nullptr;
}

// The handler's arguments, or the reasons why the handler may not run.
std::vector<std::string> Arguments(const CommandDefinition& command, const Parameters& given,
                                   std::vector<std::string>& errors) {
  std::vector<std::string> arguments;
  for (const auto& [name, value] : given) {
    const ParameterDefinition* declared = Declared(command, name);
    if (declared == nullptr) {
      errors.push_back("Unknown parameter '" + name + "' for command '" + command.path + "'");
    } else if (!IsValid(declared->type, value)) {
      errors.push_back("Invalid value '" + value + "' for parameter '" + declared->name +
                       "': expected " + TypeName(declared->type));
    } else {
      arguments.push_back("--" + declared->name + "=" + value);
    }
  }
  for (const ParameterDefinition& parameter : command.parameters) {
    bool present = std::any_of(given.begin(), given.end(), [&](const auto& pair) {
      return Names(parameter, pair.first);
    });
    if (parameter.required && !present) {
      errors.push_back("Missing required parameter '" + parameter.name + "' for command '" +
                       command.path + "'");
    }
  }
  return arguments;
}

void AddFailureLines(const HandlerOutcome& outcome, CallSpec::Output& output) {
  std::istringstream lines(outcome.errorOutput);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) output.AddError(line);
  }
  if (WIFSIGNALED(outcome.status)) {
    output.AddError("killed by signal " + std::to_string(WTERMSIG(outcome.status)));
  } else {
    output.AddError("exit status " + std::to_string(WEXITSTATUS(outcome.status)));
  }
}

}  // namespace

void Dispatcher::AddExternalDirectory(const std::string& directory) {
  directories.push_back(directory);
  for (const std::string& file : DescriptorFiles(directory)) {
    descriptors.push_back(file);
    try {
      for (CommandDefinition& command : ReadDescriptor(directory, file)) {
        commands.emplace(command.path, std::move(command));
      }
    } catch (const std::runtime_error& e) {
      Warning("Skipping command descriptor %s: %s", file.c_str(), e.what());
    }
  }
}

std::vector<std::string> Dispatcher::Handlers() const {
  std::set<std::string> handlers;
  for (const auto& [path, command] : commands) handlers.insert(command.handler);
  return {handlers.begin(), handlers.end()};
}

const CommandDefinition* Dispatcher::Prepare(const std::string& path, const Parameters& given,
                                             std::vector<std::string>& arguments,
                                             std::vector<std::string>& errors) const {
  auto found = commands.find(path);
  if (found == commands.end()) {
    errors.push_back("Unknown command '" + path + "'");
    return nullptr;
  }
  arguments = Arguments(found->second, given, errors);
  return errors.empty() ? &found->second : nullptr;
}

std::vector<std::string> Dispatcher::Check(const std::vector<std::string>& commandPath,
                                           const Parameters& parameters) const {
  std::vector<std::string> arguments, errors;
  Prepare(Join(commandPath), parameters, arguments, errors);
  return errors;
}

void Dispatcher::ExecuteCommand(std::shared_ptr<CommandInput> input,
                                std::shared_ptr<CommandOutput> output) {
  std::string path = Join(input->GetCommandPath());
  std::vector<std::string> arguments, errors;
  const CommandDefinition* command = Prepare(path, input->GetParameters(), arguments, errors);
  for (const std::string& error : errors) output->AddError(error);
  if (command == nullptr) return;

  HandlerOutcome outcome;
  try {
    outcome = RunHandler(command->handler, arguments,
                         {"ORVOCLI_COMMAND=" + path,
                          "ORVOCLI_DISPATCHER=" + input->GetDispatcher()});
  } catch (const std::system_error& e) {
    output->AddError("cannot run " + command->handler + ": " + e.code().message());
    return;
  }
  if (WIFEXITED(outcome.status) && WEXITSTATUS(outcome.status) == 0) {
    std::cerr << outcome.errorOutput << std::flush;
  } else {
    AddFailureLines(outcome, *output);
  }
}

}  // namespace Tolvar::AutoCli
