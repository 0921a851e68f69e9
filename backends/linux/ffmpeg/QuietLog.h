#pragma once

namespace quorvane::backends::ffmpeg {

// Silences FFmpeg's own log for the rest of the process: the programs print
// nothing but their own results, and the library would report damaged input
// and device trouble on standard error, which the host never reads.
void silenceLibraryLog();

} // namespace quorvane::backends::ffmpeg
