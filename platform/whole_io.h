#pragma once

#include <sys/types.h>

#include <cstddef>

namespace dawnstep {

// Writes all `size` bytes, however many calls that takes, retrying after
// interruptions. False on an error.
bool WriteWhole(int fd, const void* data, size_t size);

// One write, repeated only when a signal interrupted it: a record that
// lands whole or not at all, beside other writers of an appended file or a
// pipe. What write returned, with errno set when that is negative.
ssize_t WriteOnce(int fd, const void* data, size_t size);

}  // namespace dawnstep
