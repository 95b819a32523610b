#pragma once

#include <string>
#include <vector>

#include "platform/tolvar/command_records.h"

namespace Tolvar::AutoCli {

// Splits one management command line into its command path and its
// parameters. Words are split as a POSIX shell would, without expansions.
class OptionParser {
 public:
  // True when the line holds nothing to run (no words, or a comment). False
  // otherwise; GetParseErrors then tells whether the line was understood.
  bool ParseString(const std::string& line);

  const std::vector<std::string>& GetParseErrors() const { return errors; }
  const std::vector<std::string>& GetCommandPath() const { return commandPath; }
  const Parameters& GetCommandParameters() const { return parameters; }

 private:
  void ParseParameter(const std::vector<std::string>& words, size_t& next);

  std::vector<std::string> errors;
  std::vector<std::string> commandPath;
  Parameters parameters;
};

}  // namespace Tolvar::AutoCli
