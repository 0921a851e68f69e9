#pragma once
// Media are read from and written to plain files only. A named pipe, a
// socket, a folder or a device handed over as a picture, a sound, a movie or
// a kept choice would make a library wait forever in its open (a pipe with
// no writer) or write the movie where it does not belong (standard output).
// Paths are looked at without blocking and without side effects: opened with
// O_PATH, which reads nothing and waits for nobody, then fstat.
#include <optional>
#include <string>

namespace quorvane::shell {

// The reason given when a path names something that is not a plain file.
inline constexpr const char* notAFile = "That is not a file.";

// Nothing when `path` may be read as media: a plain file, or a path that
// cannot be looked at (missing, not permitted), whose reader then tells
// what went wrong as usual. Otherwise the reason, in the product's voice.
std::optional<std::string> whyNotReadable(const std::string& path);

// Nothing when `path` may be written as media: a path that names nothing yet
// (the writer creates it, or tells why it cannot), a plain file that is not
// one of the process's own standard streams, or /dev/null. Otherwise the
// reason, in the product's voice.
std::optional<std::string> whyNotWritable(const std::string& path);

// Whether `path` names a plain file (symbolic links followed).
bool isPlainFile(const std::string& path);

} // namespace quorvane::shell
