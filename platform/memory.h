#pragma once

#include <cstdint>
#include <optional>

namespace dawnstep {

// The size of main memory in bytes, or nothing when the host cannot tell.
std::optional<uint64_t> MainMemoryBytes();

using MainMemoryQuery = std::optional<uint64_t> (*)();

// Routes MainMemoryBytes to `query`; null restores the host's own.
void SetMainMemoryQuery(MainMemoryQuery query);

}  // namespace dawnstep
