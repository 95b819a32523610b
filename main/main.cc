#include <deque>
#include <ostream>
#include <string>

#include "log/kernel_log.h"
#include "main/command_line.h"
#include "main/option.h"
#include "main/run_mode.h"
#include "plugin/plugin.h"

using namespace dawnstep;

namespace {

CommandLine ReadArguments(std::deque<std::string>& args) {
  try {
    return ReadCommandLine(args, ProcessHooks());
  } catch (const InvalidArg&) {
    AlertLog() << "Invalid arg " << args.front() << std::endl;
  } catch (const MissingArg&) {
    AlertLog() << "Missing arg for " << args.front() << std::endl;
  } catch (const InvalidValue& e) {
    AlertLog() << "Invalid value for " << e.option << ": " << e.value << std::endl;
  }
  Usage(1);
}

}  // namespace

int main(int argc, char** argv) {
  // Creates or empties the run-once record, whatever the run mode.
  Plugin::OpenRunOnceRecord();
  std::deque<std::string> args;
  if (argc > 1) args.assign(argv + 1, argv + argc);
  CommandLine line = ReadArguments(args);
  return ReportFailures([&line] { return Run(line, ProcessHooks()); });
}
