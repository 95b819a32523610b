#pragma once

namespace dawnstep {

// Sets up the process log: system log under `id` plus a decorated
// standard-output channel. Reports its own failures on standard error.
void init_logging(const char* id);

// Standard input from /dev/null; standard output and error appended to
// `path`. Failures are warnings; nothing is thrown.
void init_fds(const char* path);

}  // namespace dawnstep
