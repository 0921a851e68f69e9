#pragma once
// The lengths written into the header boxes at the start of a fragmented
// QuickTime movie. The muxer leaves them at zero there (the pictures are in
// the fragments that follow); readers that take a movie's length from its
// header, rather than walking every fragment, then read a movie too short.
#include <vector>

namespace quorvane::backends::ffmpeg {

// Sets the movie's length (the longest track) in its movie header and each
// track's in its track and media headers: `trackSeconds[i]` for the i-th
// track, in the movie open for reading and writing on `fd` (its offset is
// left alone). Returns false when the header boxes are not where a
// fragmented movie keeps them or cannot be written; nothing is written then.
bool writeMovieDurations(int fd, const std::vector<double>& trackSeconds);

} // namespace quorvane::backends::ffmpeg
