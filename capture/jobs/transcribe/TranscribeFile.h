#pragma once
// One transcription from the requested locale to the finished transcript.
#include "jobs/transcribe/Transcript.h"
#include "platform/SpeechEngine.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quorvane::jobs::transcribe {

using AudioOpener = std::function<std::unique_ptr<platform::AudioSource>(const std::string&)>;

// Told the share of the file analysed so far (0…1), when the file announces
// its length and the engine reports progress.
using ShareDone = std::function<void(double share)>;

// Transcribes the file at `path` in `localeId` (the user's current locale
// when missing), falling back to "en-US" when that locale has no model.
// Throws TranscribeError, or the engine's and the audio reader's errors.
Transcript transcribeFile(platform::SpeechEngine& engine, const AudioOpener& openAudio,
                          const std::string& path, const std::optional<std::string>& localeId,
                          const std::function<std::string()>& currentLocale,
                          const ShareDone& onProgress = {});

} // namespace quorvane::jobs::transcribe
