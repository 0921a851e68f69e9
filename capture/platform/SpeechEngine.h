#pragma once
// On-device speech recognition: which locales have a model, getting a missing
// model, and analysing a whole audio file into finished results whose text
// is cut into runs that carry time ranges on the file's timeline.
#include "platform/AudioSource.h"

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::platform {

// A failure of the engine; what() is the engine's own description of it.
class SpeechError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Seconds from the beginning of the audio file.
struct AudioTimeRange {
    double start = 0;
    double end = 0;
};

// A piece of recognised text; `timeRange` is missing when the engine could
// not place it in time.
struct TextRun {
    std::string text;
    std::optional<AudioTimeRange> timeRange;
};

// One finished piece of the transcription, its text divided into runs.
struct SpeechResult {
    std::vector<TextRun> runs;
};

using ResultHandler = std::function<void(SpeechResult)>;

// How much of the audio has been analysed: seconds from its first sample
// before which every result has been delivered.
using ProgressHandler = std::function<void(double secondsDone)>;

// Feeds audio to the engine. Results go to the handler given when the
// analyzer was made, in order, on the thread that drives the analyzer; the
// last of them arrive before finalizeAndFinish or cancelAndFinishNow returns.
class SpeechAnalyzer {
  public:
    virtual ~SpeechAnalyzer() = default;

    // Reads `audio` to its end. Returns the time (seconds) of the last sample
    // read, or nothing when the file held no audio. Throws SpeechError or
    // AudioError.
    virtual std::optional<double> analyzeSequence(AudioSource& audio) = 0;

    // Delivers every remaining result up to `through`, then finishes.
    virtual void finalizeAndFinish(double through) = 0;

    // Drops whatever is still pending and finishes.
    virtual void cancelAndFinishNow() = 0;

    // Called now and then, on the thread that drives the analyzer, while
    // the audio is analysed. An analyzer may not report progress at all.
    virtual void setProgressHandler(ProgressHandler) {}
};

// Gets a model that is not on the device yet.
class ModelInstallation {
  public:
    virtual ~ModelInstallation() = default;
    // Returns once the model is installed. Throws SpeechError.
    virtual void downloadAndInstall() = 0;
};

class SpeechEngine {
  public:
    virtual ~SpeechEngine() = default;

    // Whether speech analysis can run here at all.
    virtual bool available() const = 0;

    // The BCP-47 identifier of a supported locale equivalent to `locale`,
    // or nothing.
    virtual std::optional<std::string> supportedLocale(std::string_view locale) const = 0;

    // What must be installed before `locale` (a supported locale) can be
    // analysed, or nothing when its model is present.
    virtual std::unique_ptr<ModelInstallation> installationRequest(const std::string& locale) = 0;

    // An analyzer for a supported, installed locale. Loading the model
    // happens here. Throws SpeechError.
    virtual std::unique_ptr<SpeechAnalyzer> makeAnalyzer(const std::string& locale,
                                                         ResultHandler onResult) = 0;
};

// The system's speech engine.
std::unique_ptr<SpeechEngine> openSpeechEngine();

// Identifier of the user's current locale, in BCP-47 form ("en-US").
std::string currentLocaleIdentifier();

} // namespace quorvane::platform
