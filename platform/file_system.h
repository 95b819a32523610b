#pragma once

#include <string>

namespace dawnstep {

// An existence test, not a readability test.
bool PathExists(const std::string& path);

// Whether others than the owner and the group may write `path` (links
// followed); false when it does not exist.
bool WritableByOthers(const std::string& path);

// Creates every missing directory of `path` with mode 0755 (less what the
// umask takes away); existing ones keep theirs.
void MakeDirectories(const std::string& path);

}  // namespace dawnstep
