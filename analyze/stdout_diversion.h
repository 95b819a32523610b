#pragma once

namespace dawnstep::analyze {

// While it lives, whatever the process writes to standard output goes to
// standard error instead: code that runs while plugins load (library
// initialisers, the command framework) must not end up in a report that
// is piped into another program.
class StdoutDiversion {
 public:
  StdoutDiversion();
  ~StdoutDiversion();
  StdoutDiversion(const StdoutDiversion&) = delete;
  StdoutDiversion& operator=(const StdoutDiversion&) = delete;

 private:
  int saved;  // the real standard output, or -1
};

}  // namespace dawnstep::analyze
