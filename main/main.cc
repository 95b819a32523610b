#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
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

// A closed standard descriptor would be taken by the next file opened, and
// usage text or log records would then land in that file.
void OpenStandardDescriptors() {
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    int opened = open("/dev/null", O_RDWR);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  OpenStandardDescriptors();
  // Creates or empties the run-once record, whatever the run mode.
  Plugin::OpenRunOnceRecord();
  std::deque<std::string> args;
  if (argc > 1) args.assign(argv + 1, argv + argc);
  CommandLine line = ReadArguments(args);
  return ReportFailures([&line] { return Run(line, ProcessHooks()); });
}
