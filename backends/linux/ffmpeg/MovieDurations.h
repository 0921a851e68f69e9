#pragma once
// The lengths written into the header boxes at the start of a fragmented
// QuickTime movie. The muxer leaves them at zero there (the pictures are in
// the fragments that follow); readers that take a movie's length from its
// header, rather than walking every fragment, then read a movie too short.
#include <string>
#include <vector>

namespace quorvane::backends::ffmpeg {

// Sets the movie's length (the longest track) in its movie header and each
// track's in its track and media headers: `trackSeconds[i]` for the i-th
// track. Returns false when the file cannot be opened or its header boxes
// are not where a fragmented movie keeps them; nothing is written then.
bool writeMovieDurations(const std::string& path, const std::vector<double>& trackSeconds);

} // namespace quorvane::backends::ffmpeg
