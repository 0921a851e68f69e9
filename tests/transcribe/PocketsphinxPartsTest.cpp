// The pure parts of the pocketsphinx engine: locale names, which tokens are
// words, and the model folder.
#include "pocketsphinx/Locales.h"
#include "pocketsphinx/ModelCatalog.h"
#include "pocketsphinx/PocketsphinxEngine.h"
#include "pocketsphinx/WordText.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>

namespace quorvane::backends::pocketsphinx {
namespace {

TEST(LocaleNames, NormaliseToBcp47) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"en_US.UTF-8", "en-US"},
        {"en-us", "en-US"},
        {"EN_gb", "en-GB"},
        {"de_DE@euro", "de-DE"},
        {"fr", "fr"},
        {"fr.UTF-8", "fr"},
        {"zh_Hant_TW", "zh-Hant-TW"},
        {"es-419", "es-419"},
        {"C", "en-US"},
        {"C.UTF-8", "en-US"},
        {"POSIX", "en-US"},
        {"ast_ES", "ast-ES"},
        {"x", "x"},
        {"123", "123"},
        {"", ""},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(normaliseLocale(in), out) << in;
}

TEST(LocaleNames, Equivalence) {
    auto eq = [](std::string_view a, std::string_view b) {
        return isEquivalent(*parseLocale(a), *parseLocale(b));
    };
    EXPECT_TRUE(eq("en-US", "en-US"));
    EXPECT_TRUE(eq("en_US.UTF-8", "en-us"));
    EXPECT_TRUE(eq("en", "en-US"));
    EXPECT_TRUE(eq("en-Latn-US", "en-US"));
    EXPECT_FALSE(eq("en-GB", "en-US"));
    EXPECT_FALSE(eq("fr-FR", "en-US"));
    EXPECT_FALSE(eq("fr", "en-US"));
}

TEST(LocaleNames, EnvironmentOrder) {
    std::map<std::string, std::string> env;
    auto get = [&env](const char* name) -> const char* {
        auto it = env.find(name);
        return it == env.end() ? nullptr : it->second.c_str();
    };
    EXPECT_EQ(localeFromEnvironment(get), "en-US");
    env["LANG"] = "de_AT.UTF-8";
    EXPECT_EQ(localeFromEnvironment(get), "de-AT");
    env["LC_MESSAGES"] = "fr_CA.UTF-8";
    EXPECT_EQ(localeFromEnvironment(get), "fr-CA");
    env["LC_ALL"] = "";
    EXPECT_EQ(localeFromEnvironment(get), "fr-CA");
    env["LC_ALL"] = "pt_BR";
    EXPECT_EQ(localeFromEnvironment(get), "pt-BR");
}

TEST(DecoderTokens, OnlySpokenWordsRemain) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"hello", "hello"},        {"read(2)", "read"},        {"read(12)", "read"},
        {"<s>", std::nullopt},     {"</s>", std::nullopt},     {"<sil>", std::nullopt},
        {"[NOISE]", std::nullopt}, {"[SPEECH]", std::nullopt}, {"+breath+", std::nullopt},
        {"+SMACK+", std::nullopt}, {"", std::nullopt},         {"(2)", "(2)"},
        {"o'clock", "o'clock"},    {"a(b)", "a(b)"},           {"x()", "x()"},
    };
    for (const auto& [token, text] : cases)
        EXPECT_EQ(wordText(token), text) << token;
}

class ModelFolder : public ::testing::Test {
  protected:
    void touch(const std::filesystem::path& p) {
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p) << "x";
    }
    // A model laid out as Debian's pocketsphinx-en-us lays out its own.
    void addModel(const std::string& folder) {
        touch(root_ / folder / folder / "mdef");
        touch(root_ / folder / (folder + "-phone.lm.bin"));
        touch(root_ / folder / (folder + ".lm.bin"));
        touch(root_ / folder / ("cmudict-" + folder + ".dict"));
    }

    quorvane::testing::TempDir dir_{"quorvane-models"};
    const std::filesystem::path root_ = dir_.path;
};

TEST_F(ModelFolder, FindsCompleteModelsByLocale) {
    addModel("fr-fr");
    addModel("en-gb");
    touch(root_ / "de-de" / "de-de.lm.bin"); // no acoustic model: not a model
    touch(root_ / "README");
    std::filesystem::create_directories(root_ / "misc");
    const auto models = findModels(root_);
    ASSERT_EQ(models.size(), 2u);
    EXPECT_EQ(models[0].locale, "en-GB");
    EXPECT_EQ(models[1].locale, "fr-FR");
    EXPECT_EQ(models[1].acousticModel, root_ / "fr-fr" / "fr-fr");
    EXPECT_EQ(models[1].languageModel, root_ / "fr-fr" / "fr-fr.lm.bin");
    EXPECT_EQ(models[1].dictionary, root_ / "fr-fr" / "cmudict-fr-fr.dict");

    PocketsphinxEngine engine(root_);
    EXPECT_TRUE(engine.available());
    EXPECT_EQ(engine.supportedLocale("fr-FR"), "fr-FR");
    EXPECT_EQ(engine.supportedLocale("fr"), "fr-FR");
    EXPECT_EQ(engine.supportedLocale("fr_FR.UTF-8"), "fr-FR");
    EXPECT_EQ(engine.supportedLocale("en"), "en-GB");
    EXPECT_EQ(engine.supportedLocale("en-US"), std::nullopt);
    EXPECT_EQ(engine.supportedLocale("fr-CA"), std::nullopt);
    EXPECT_EQ(engine.supportedLocale("nonsense!"), std::nullopt);
    EXPECT_EQ(engine.installationRequest("fr-FR"), nullptr);
}

TEST_F(ModelFolder, NoModelsMeansUnavailable) {
    EXPECT_FALSE(PocketsphinxEngine(root_).available());
    EXPECT_FALSE(PocketsphinxEngine(root_ / "missing").available());
}

TEST_F(ModelFolder, IncompleteModelFailsToLoadWithAMessage) {
    addModel("en-us"); // holds only "mdef" of the acoustic model
    PocketsphinxEngine engine(root_);
    try {
        engine.makeAnalyzer("en-US", [](SpeechResult) {});
        FAIL() << "an incomplete model loaded";
    } catch (const SpeechError& e) {
        EXPECT_EQ(std::string(e.what()), "The speech model for en-US is incomplete: " +
                                             (root_ / "en-us" / "en-us" / "means").string() +
                                             " is missing.");
    }
}

TEST(SystemModels, TheInstalledAmericanEnglishModelIsFound) {
    PocketsphinxEngine engine;
    ASSERT_TRUE(engine.available());
    EXPECT_EQ(engine.supportedLocale("en-US"), "en-US");
    EXPECT_EQ(engine.supportedLocale("en"), "en-US");
}

} // namespace
} // namespace quorvane::backends::pocketsphinx
