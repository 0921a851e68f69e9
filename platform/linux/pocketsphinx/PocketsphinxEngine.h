#pragma once
// The speech engine on pocketsphinx: one installed model per locale, nothing
// to download, whole files decoded utterance by utterance.
#include "ModelCatalog.h"
#include "platform/SpeechEngine.h"

namespace quorvane::platform::pocketsphinx {

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

// An analyzer decoding with `model` (loaded here). Throws SpeechError.
std::unique_ptr<SpeechAnalyzer> makeDecoder(const ModelFiles& model, ResultHandler onResult);

} // namespace quorvane::platform::pocketsphinx
