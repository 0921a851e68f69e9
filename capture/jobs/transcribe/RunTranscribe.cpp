#include "jobs/Jobs.h"
#include "jobs/transcribe/TranscribeFile.h"
#include "platform/SpeechEngine.h"
#include "runtime/Queue.h"
#include "shell/Output.h"
#include "shell/PlainFile.h"
#include "shell/Progress.h"
#include "text/Utf8.h"
#include "json/Writer.h"

#include <exception>
#include <optional>
#include <string>

namespace quorvane::jobs {
namespace {

// A pipe, a folder or a device is refused before the reader opens it: a
// pipe with no writer would keep it waiting forever.
std::unique_ptr<platform::AudioSource> openPlainAudioFile(const std::string& path) {
    if (auto why = shell::whyNotReadable(path))
        throw platform::AudioError("The audio file " + path + " could not be opened. " + *why);
    return platform::openAudioFile(path);
}

[[noreturn]] void transcriptionTask(std::shared_ptr<platform::SpeechEngine> engine,
                                    std::string path, std::optional<std::string> localeId) {
    // Shown only to a person at a terminal; erased before the one line.
    auto progress = shell::Progress::onStandardError();
    jobs::transcribe::Transcript transcript;
    try {
        transcript = jobs::transcribe::transcribeFile(
            *engine, openPlainAudioFile, path, localeId, platform::currentLocaleIdentifier,
            [&progress](double share) { progress.update(share); });
    } catch (const std::exception& e) {
        progress.clear();
        // A path or locale that is not UTF-8 would make the error object
        // unprintable; the user still gets a line.
        shell::failWith(text::validUtf8(e.what()));
    }
    progress.clear();
    std::string text;
    try {
        text = jobs::transcribe::encodeTranscript(transcript);
    } catch (const json::EncodingError& e) {
        shell::failWith(e.what());
    }
    shell::finishWithText(std::move(text), 0);
}

} // namespace

void runTranscribe(const Args& rest) {
    if (rest.empty()) shell::failWith("usage: transcribe <audio file> [locale]");

    std::shared_ptr<platform::SpeechEngine> engine = platform::openSpeechEngine();
    if (!engine->available())
        shell::failWith("Reading speech on this Mac needs macOS 26 or newer.");

    std::string path = rest[0];
    std::optional<std::string> localeId;
    if (rest.size() >= 2) localeId = rest[1];

    runtime::startTask([engine, path = std::move(path), localeId = std::move(localeId)] {
        transcriptionTask(engine, path, localeId);
    });
    runtime::runMainLoop();
}

} // namespace quorvane::jobs
