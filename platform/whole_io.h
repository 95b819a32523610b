#pragma once

#include <cstddef>

namespace dawnstep {

// Moves all `size` bytes, however many calls that takes, retrying after
// interruptions. False on an error, and for reads at an end of file that
// comes first: the writer went away mid-record.
bool WriteWhole(int fd, const void* data, size_t size);
bool ReadWhole(int fd, void* data, size_t size);

}  // namespace dawnstep
