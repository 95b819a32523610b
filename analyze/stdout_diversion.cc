#include "analyze/stdout_diversion.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace dawnstep::analyze {

StdoutDiversion::StdoutDiversion() {
  // Text buffered before the diversion belongs to the real output.
  std::cout.flush();
  fflush(stdout);
  saved = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (saved >= 0) dup2(STDERR_FILENO, STDOUT_FILENO);
}

StdoutDiversion::~StdoutDiversion() {
  std::cout.flush();
  fflush(stdout);
  if (saved < 0) return;
  dup2(saved, STDOUT_FILENO);
  close(saved);
}

}  // namespace dawnstep::analyze
