#include "pocketsphinx/PocketsphinxEngine.h"

#include "pocketsphinx/DecodingPipeline.h"
#include "pocketsphinx/Locales.h"

namespace quorvane::backends::pocketsphinx {

// A back end implements the platform interfaces and speaks in their types.
using namespace platform;

PocketsphinxEngine::PocketsphinxEngine(const std::filesystem::path& modelFolder)
    : models_(findModels(modelFolder)) {}

std::optional<std::string> PocketsphinxEngine::supportedLocale(std::string_view locale) const {
    const auto requested = parseLocale(normaliseLocale(locale));
    if (!requested) return std::nullopt;
    for (const auto& model : models_) {
        const auto parts = parseLocale(model.locale);
        if (parts && isEquivalent(*requested, *parts)) return model.locale;
    }
    return std::nullopt;
}

std::unique_ptr<ModelInstallation> PocketsphinxEngine::installationRequest(const std::string&) {
    return nullptr; // every supported locale is an installed model
}

std::unique_ptr<SpeechAnalyzer> PocketsphinxEngine::makeAnalyzer(const std::string& locale,
                                                                 ResultHandler onResult) {
    for (const auto& model : models_)
        if (model.locale == locale)
            return makeDecoder(model, std::move(onResult), decodingThreads(maxDecodingThreads));
    throw SpeechError("No speech model for " + locale + " is installed.");
}

} // namespace quorvane::backends::pocketsphinx

namespace quorvane::platform {

std::unique_ptr<SpeechEngine> openSpeechEngine() {
    return std::make_unique<backends::pocketsphinx::PocketsphinxEngine>();
}

} // namespace quorvane::platform
