#include "jobs/transcribe/TranscribeFile.h"

#include "jobs/transcribe/TranscribeError.h"
#include "jobs/transcribe/WordCollector.h"

#include <algorithm>
#include <cmath>

namespace quorvane::jobs::transcribe {

Transcript transcribeFile(platform::SpeechEngine& engine, const AudioOpener& openAudio,
                          const std::string& path, const std::optional<std::string>& localeId,
                          const std::function<std::string()>& currentLocale,
                          const ShareDone& onProgress) {
    const std::string requested = localeId ? *localeId : currentLocale();

    // The fall-back is silent: only the transcript's locale tells.
    std::optional<std::string> chosen = engine.supportedLocale(requested);
    if (!chosen) chosen = engine.supportedLocale("en-US");
    if (!chosen)
        throw TranscribeError::unsupported("This Mac has no speech model for " + requested + ".");

    if (auto installation = engine.installationRequest(*chosen)) installation->downloadAndInstall();

    WordCollector collector;
    auto analyzer = engine.makeAnalyzer(
        *chosen, [&collector](platform::SpeechResult result) { collector.add(result); });

    auto audio = openAudio(path);
    const double length = audio->announcedDuration();
    if (onProgress && length > 0 && std::isfinite(length))
        analyzer->setProgressHandler([&onProgress, length](double seconds) {
            onProgress(std::clamp(seconds / length, 0.0, 1.0));
        });
    if (auto last = analyzer->analyzeSequence(*audio))
        analyzer->finalizeAndFinish(*last);
    else
        analyzer->cancelAndFinishNow();

    Transcript transcript;
    transcript.locale = *chosen;
    transcript.duration = audio->sampleRate() > 0
                              ? static_cast<double>(audio->framesRead()) / audio->sampleRate()
                              : 0.0;
    transcript.words = collector.take();
    return transcript;
}

} // namespace quorvane::jobs::transcribe
