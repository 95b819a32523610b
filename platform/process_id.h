#pragma once

#include <sys/types.h>

namespace dawnstep {

// This process's id without entering the kernel each time: records and log
// lines carry it, several per plugin. The child of every fork asks anew.
pid_t ProcessId();

}  // namespace dawnstep
