#pragma once
// A file replaced whole or not at all: readers (and a process killed midway)
// see either the old contents or the new, never a part.
#include <string>

namespace quorvane::io {

// Writes `bytes` to `path` through a temporary file beside it that then
// replaces the target. Returns false on any failure (nothing is left behind).
// `durable`: on the disk before the rename (survives a power cut, not only
// the end of the process). A new file gets `mode` less the umask.
bool writeAtomically(const std::string& path, const std::string& bytes, bool durable = true,
                     unsigned mode = 0666);

} // namespace quorvane::io
