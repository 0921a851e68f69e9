#pragma once
// FFmpeg reads every name it is given as a URL: "take:1.mov" names a protocol
// "take", "pipe:1" is standard output, "http://…" goes to the network. A path
// the user gave is opened only through FFmpeg's file protocol.
#include <string>

struct AVDictionary;

namespace quorvane::backends::ffmpeg {

// "file:" + `path` made absolute against the current directory (symbolic
// links are not resolved and the disk is not touched).
std::string fileUrl(const std::string& path);

// Adds protocol_whitelist=file to `options`, so that nothing inside the file
// (a playlist, a reference) can reach another protocol either.
void onlyFileProtocol(AVDictionary** options);

} // namespace quorvane::backends::ffmpeg
