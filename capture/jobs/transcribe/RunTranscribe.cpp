#include "io/WriteAll.h"
#include "jobs/Jobs.h"
#include "jobs/transcribe/TranscribeFile.h"
#include "platform/SpeechEngine.h"
#include "runtime/Queue.h"
#include "shell/Output.h"
#include "text/Utf8.h"
#include "json/Writer.h"

#include <exception>
#include <optional>
#include <string>
#include <unistd.h>

namespace quorvane::jobs {
namespace {

void writeLine(std::string line) {
    line += '\n';
    io::writeAll(STDOUT_FILENO, line); // a reader that went away can be told nothing more
}

[[noreturn]] void transcriptionTask(std::shared_ptr<platform::SpeechEngine> engine,
                                    std::string path, std::optional<std::string> localeId) {
    jobs::transcribe::Transcript transcript;
    try {
        transcript = jobs::transcribe::transcribeFile(*engine, platform::openAudioFile, path,
                                                      localeId, platform::currentLocaleIdentifier);
    } catch (const std::exception& e) {
        // A path or locale that is not UTF-8 would make the error object
        // unprintable; the user still gets a line.
        shell::failWith(text::toValidUtf8(e.what()));
    }
    std::string text;
    try {
        text = jobs::transcribe::encodeTranscript(transcript);
    } catch (const json::EncodingError& e) {
        shell::failWith(e.what());
    }
    writeLine(std::move(text));
    shell::exitProcess(0);
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
