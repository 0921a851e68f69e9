#pragma once
// The result of a transcription: the locale used, the audio's length and the
// timed words, and its one-line JSON form.
#include <string>
#include <vector>

namespace quorvane::jobs::transcribe {

struct SpokenWord {
    std::string text; // never empty, no white space at either end
    double start = 0; // seconds from the beginning of the file
    double end = 0;
};

struct Transcript {
    bool ok = true;
    std::string locale;  // BCP-47 identifier of the locale that produced the words
    double duration = 0; // sample frames ÷ sample rate
    std::vector<SpokenWord> words;
};

// The transcript as one line of JSON (no line feed), numbers at full
// precision. Throws json::EncodingError when a time or the duration is not
// finite; nothing is produced then.
std::string encodeTranscript(const Transcript& transcript);

} // namespace quorvane::jobs::transcribe
