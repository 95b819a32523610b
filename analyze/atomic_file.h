#pragma once

#include <string>

namespace dawnstep::analyze {

// Replaces the file at `path` with `content` all at once: written to a new
// file beside it (hidden, so that readers of a directory's files never see
// it), flushed to disk, then renamed over `path`. The file's mode is 0644
// whatever the umask, as the collector that reads it runs as another user.
// On failure the old file is left as it was, the new one is removed, and
// std::runtime_error says what could not be written.
void WriteFileAtomically(const std::string& path, const std::string& content);

}  // namespace dawnstep::analyze
