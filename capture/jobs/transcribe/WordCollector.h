#pragma once
// Turns the engine's finished results into timed words.
#include "jobs/transcribe/Transcript.h"
#include "platform/SpeechEngine.h"

#include <string>
#include <string_view>
#include <vector>

namespace quorvane::jobs::transcribe {

class WordCollector {
  public:
    // Every run with a time range and some text left after trimming white
    // space becomes one word, in the order delivered, times unchanged.
    void add(const platform::SpeechResult& result);

    // The list, handed over once the results have ended.
    std::vector<SpokenWord> take() { return std::move(words_); }

  private:
    std::vector<SpokenWord> words_;
};

// `text` without Unicode white space and line breaks at either end.
std::string trimWhitespace(std::string_view text);

} // namespace quorvane::jobs::transcribe
