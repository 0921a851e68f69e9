#include "jobs/transcribe/Transcript.h"

#include "json/Writer.h"

namespace quorvane::jobs::transcribe {

std::string encodeTranscript(const Transcript& transcript) {
    json::Array words;
    words.reserve(transcript.words.size());
    for (const auto& word : transcript.words)
        words.emplace_back(
            json::Object{{"text", word.text}, {"start", word.start}, {"end", word.end}});
    return json::serialize(json::Object{{"ok", transcript.ok},
                                        {"locale", transcript.locale},
                                        {"duration", transcript.duration},
                                        {"words", std::move(words)}});
}

} // namespace quorvane::jobs::transcribe
