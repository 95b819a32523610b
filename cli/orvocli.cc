#include "cli/orvocli.h"

#include <cstdio>
#include <iostream>

#include "platform/root.h"
#include "platform/tolvar/dispatcher.h"
#include "platform/tolvar/option_parser.h"

namespace dawnstep {
namespace {

using Tolvar::AutoCli::CommandInput;
using Tolvar::AutoCli::CommandOutput;
using Tolvar::AutoCli::Dispatcher;

const char* const kCommandDirectories[] = {
    "/usr/lib/corvane/orvocli",
    "/usr/lib/corvane/orvocli/int",
    "/usr/lib/corvane/orvocli/int/ext",
    "/usr/lib/corvane/orvocli/ext",
};

const char kDispatcherName[] = "dawnstep";

Dispatcher*& DispatcherSlot() {
  static Dispatcher* dispatcher = nullptr;
  return dispatcher;
}

Dispatcher& SharedInstance() {
  Dispatcher*& dispatcher = DispatcherSlot();
  if (dispatcher == nullptr) {
    dispatcher = new Dispatcher();
    for (const char* directory : kCommandDirectories) {
      dispatcher->AddExternalDirectory(RootPath(directory));
    }
  }
  return *dispatcher;
}

}  // namespace

OrvocliException::OrvocliException(const std::string& command, const std::string& stage,
                                   const std::vector<std::string>& errors)
    : command(command), stage(stage), errors(errors), message(stage + " " + command + " failed") {}

const char* OrvocliException::what() const noexcept { return message.c_str(); }

Orvocli::Orvocli() { SharedInstance(); }

Dispatcher* Orvocli::SharedDispatcher() { return DispatcherSlot(); }

void Orvocli::ResetDispatcher() {
  delete DispatcherSlot();
  DispatcherSlot() = nullptr;
}

void Orvocli::Execute(const std::string& commandLine, bool dryRun, bool timeCommand) {
  Tolvar::AutoCli::OptionParser parser;
  if (parser.ParseString(commandLine)) return;
  std::vector<std::string> parseErrors = parser.GetParseErrors();
  if (!parseErrors.empty()) throw OrvocliException(commandLine, "parse", parseErrors);

  std::shared_ptr<CommandInput> input = CommandInput::New();
  std::shared_ptr<CommandOutput> output = CommandOutput::New();
  Tolvar::Parameters parameters = parser.GetCommandParameters();
  std::vector<std::string> commandPath = parser.GetCommandPath();
  input->SetDispatcher(kDispatcherName);
  input->SetCommandPath(commandPath);
  for (const auto& [name, value] : parameters) input->AddParameter(name, value);
  if (dryRun) return;

  timeval start{};
  if (timeCommand) gettimeofday(&start, nullptr);
  SharedInstance().ExecuteCommand(input, output);
  if (timeCommand) {
    timeval end{};
    gettimeofday(&end, nullptr);
    std::cout << TimingLine(start, end, commandLine) << std::flush;
  }
  if (output->HasError()) throw OrvocliException(commandLine, "execute", output->GetErrors());
}

std::vector<OrvocliException> Orvocli::Execute(const std::vector<std::string>& commandLines,
                                               bool dryRun, bool timeCommand) {
  std::vector<OrvocliException> failures;
  for (const std::string& commandLine : commandLines) {
    try {
      Execute(commandLine, dryRun, timeCommand);
    } catch (const OrvocliException& e) {
      failures.push_back(e);
    } catch (const std::exception& e) {
      failures.emplace_back(commandLine, "", std::vector<std::string>{e.what()});
    }
  }
  return failures;
}

std::string TimingLine(const timeval& start, const timeval& end, const std::string& commandLine) {
  long seconds = end.tv_sec - start.tv_sec;
  long microseconds = end.tv_usec - start.tv_usec;
  if (microseconds < 0) {
    seconds -= 1;
    microseconds += 1000000;
  }
  char elapsed[48];
  snprintf(elapsed, sizeof elapsed, "%ld.%06ld", seconds, microseconds);
  return std::string(elapsed) + " orvocli " + commandLine + "\n";
}

}  // namespace dawnstep
