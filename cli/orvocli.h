#pragma once

#include <sys/time.h>

#include <exception>
#include <string>
#include <vector>

namespace Tolvar::AutoCli {
class Dispatcher;
}

namespace dawnstep {

// A management command line that failed, the stage it failed in ("parse",
// "execute", or empty for another exception) and the framework's error lines.
class OrvocliException : public std::exception {
 public:
  OrvocliException(const std::string& command, const std::string& stage,
                   const std::vector<std::string>& errors);

  const char* what() const noexcept override;

  std::string command;
  std::string stage;
  std::vector<std::string> errors;
  std::string message;
};

// Runs management command lines in this process through the command
// framework. Every instance shares one process-wide dispatcher, created by
// the first instance and never freed; workers inherit it through fork.
class Orvocli {
 public:
  Orvocli();

  // Throws OrvocliException when the line does not parse or, unless
  // `dryRun`, when the command fails. `timeCommand` prints the timing line.
  void Execute(const std::string& commandLine, bool dryRun, bool timeCommand);
  // Runs every line whatever the others did; one record per failed line.
  std::vector<OrvocliException> Execute(const std::vector<std::string>& commandLines,
                                        bool dryRun, bool timeCommand);

  // The process-wide dispatcher; null before the first instance exists.
  static Tolvar::AutoCli::Dispatcher* SharedDispatcher();
  // Forgets the dispatcher, so that the next use reads the command
  // directories of the current root; for tests, which use many roots.
  static void ResetDispatcher();
};

// "<seconds>.<microseconds> orvocli <line>\n" for a command that ran from
// `start` to `end`.
std::string TimingLine(const timeval& start, const timeval& end, const std::string& commandLine);

}  // namespace dawnstep
