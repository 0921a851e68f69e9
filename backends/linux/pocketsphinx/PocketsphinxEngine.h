#pragma once
// The speech engine on pocketsphinx: one installed model per locale, nothing
// to download, whole files decoded utterance by utterance.
#include "platform/SpeechEngine.h"
#include "pocketsphinx/ModelCatalog.h"

namespace quorvane::backends::pocketsphinx {

// A back end implements the platform interfaces and speaks in their types.
using namespace platform;

class PocketsphinxEngine final : public SpeechEngine {
  public:
    explicit PocketsphinxEngine(const std::filesystem::path& modelFolder = systemModelFolder);

    bool available() const override { return !models_.empty(); }
    std::optional<std::string> supportedLocale(std::string_view locale) const override;
    std::unique_ptr<ModelInstallation> installationRequest(const std::string& locale) override;
    std::unique_ptr<SpeechAnalyzer> makeAnalyzer(const std::string& locale,
                                                 ResultHandler onResult) override;

  private:
    std::vector<ModelFiles> models_;
};

// The most decoders one analysis runs: each holds a copy of the model
// (about 100 MB), and beyond this the memory costs more than the speed gains.
inline constexpr int maxDecodingThreads = 8;

// An analyzer decoding with `model` on `threads` threads, one decoder each
// (the first loaded here). Throws SpeechError.
std::unique_ptr<SpeechAnalyzer> makeDecoder(const ModelFiles& model, ResultHandler onResult,
                                            int threads);

} // namespace quorvane::backends::pocketsphinx
