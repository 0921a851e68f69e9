// The order of the transcription's steps and its locale choice, against a
// scripted engine and audio file.
#include "jobs/transcribe/TranscribeFile.h"
#include "jobs/transcribe/TranscribeError.h"

#include <gtest/gtest.h>

#include <map>

namespace quorvane::jobs::transcribe {
namespace {

using platform::AudioTimeRange;
using platform::SpeechResult;

struct Script {
    std::map<std::string, std::string> supported; // requested → supported
    bool needsInstall = false;
    std::vector<SpeechResult> results;
    std::int64_t frames = 0; // at the file's own rate
    double rate = 44100;
    std::vector<std::string> calls;
};

class FakeAudio final : public platform::AudioSource {
  public:
    explicit FakeAudio(Script& s) : s_(s) {}
    std::size_t read(std::int16_t*, std::size_t max) override {
        const std::size_t n = std::min<std::size_t>(max, left_);
        left_ -= n;
        return n;
    }
    double sampleRate() const override { return s_.rate; }
    std::int64_t framesRead() const override { return left_ == 0 ? s_.frames : 0; }

  private:
    Script& s_;
    std::size_t left_ = static_cast<std::size_t>(s_.frames * 16000 / s_.rate);
};

class FakeAnalyzer final : public platform::SpeechAnalyzer {
  public:
    FakeAnalyzer(Script& s, platform::ResultHandler h) : s_(s), h_(std::move(h)) {}
    std::optional<double> analyzeSequence(platform::AudioSource& audio) override {
        s_.calls.push_back("analyze");
        std::int16_t buf[512];
        std::size_t total = 0;
        while (std::size_t n = audio.read(buf, 512))
            total += n;
        if (total == 0) return std::nullopt;
        return total / 16000.0;
    }
    void finalizeAndFinish(double) override {
        s_.calls.push_back("finalize");
        for (auto& r : s_.results)
            h_(r);
    }
    void cancelAndFinishNow() override { s_.calls.push_back("cancel"); }

  private:
    Script& s_;
    platform::ResultHandler h_;
};

class FakeInstall final : public platform::ModelInstallation {
  public:
    explicit FakeInstall(Script& s) : s_(s) {}
    void downloadAndInstall() override { s_.calls.push_back("install"); }

  private:
    Script& s_;
};

class FakeEngine final : public platform::SpeechEngine {
  public:
    explicit FakeEngine(Script& s) : s_(s) {}
    bool available() const override { return true; }
    std::optional<std::string> supportedLocale(std::string_view l) const override {
        s_.calls.push_back("supported " + std::string(l));
        auto it = s_.supported.find(std::string(l));
        if (it == s_.supported.end()) return std::nullopt;
        return it->second;
    }
    std::unique_ptr<platform::ModelInstallation>
    installationRequest(const std::string& l) override {
        s_.calls.push_back("request " + l);
        if (!s_.needsInstall) return nullptr;
        return std::make_unique<FakeInstall>(s_);
    }
    std::unique_ptr<platform::SpeechAnalyzer> makeAnalyzer(const std::string& l,
                                                           platform::ResultHandler h) override {
        s_.calls.push_back("analyzer " + l);
        return std::make_unique<FakeAnalyzer>(s_, std::move(h));
    }

  private:
    Script& s_;
};

Transcript run(Script& s, std::optional<std::string> locale, bool fileExists = true) {
    FakeEngine engine(s);
    AudioOpener open = [&](const std::string& path) -> std::unique_ptr<platform::AudioSource> {
        s.calls.push_back("open " + path);
        if (!fileExists)
            throw platform::AudioError("The audio file " + path + " could not be opened.");
        return std::make_unique<FakeAudio>(s);
    };
    return transcribeFile(engine, open, "talk.wav", locale, [] { return std::string("de-AT"); });
}

TEST(TranscribeFileTest, UsesTheRequestedLocaleAndCollectsWords) {
    Script s;
    s.supported = {{"en-GB", "en-GB"}, {"en-US", "en-US"}};
    s.frames = 66150; // 1.5 s at 44.1 kHz
    s.results = {{{{" one ", AudioTimeRange{0.25, 0.5}}, {"two", std::nullopt}}},
                 {{{"three", AudioTimeRange{1.0, 1.25}}}}};
    const Transcript t = run(s, "en-GB");
    EXPECT_EQ(t.locale, "en-GB");
    EXPECT_EQ(t.duration, 1.5);
    ASSERT_EQ(t.words.size(), 2u);
    EXPECT_EQ(t.words[0].text, "one");
    EXPECT_EQ(t.words[1].start, 1.0);
    EXPECT_EQ(s.calls,
              (std::vector<std::string>{"supported en-GB", "request en-GB", "analyzer en-GB",
                                        "open talk.wav", "analyze", "finalize"}));
}

TEST(TranscribeFileTest, FallsBackToAmericanEnglishSilently) {
    Script s;
    s.supported = {{"en-US", "en-US"}};
    s.frames = 44100;
    EXPECT_EQ(run(s, "fr-FR").locale, "en-US");
    // Without a locale argument the user's current locale is asked for first.
    Script t;
    t.supported = {{"en-US", "en-US"}};
    t.frames = 44100;
    run(t, std::nullopt);
    EXPECT_EQ(t.calls.at(0), "supported de-AT");
    EXPECT_EQ(t.calls.at(1), "supported en-US");
}

TEST(TranscribeFileTest, NoModelNamesTheRequestedLocaleBeforeTheFileIsLookedAt) {
    for (const std::optional<std::string>& locale :
         {std::optional<std::string>("fr-FR"), std::optional<std::string>()}) {
        Script s;
        try {
            run(s, locale, false);
            FAIL() << "no error";
        } catch (const TranscribeError& e) {
            const std::string name = locale ? *locale : "de-AT";
            EXPECT_STREQ(e.what(), ("This Mac has no speech model for " + name + ".").c_str());
        }
        EXPECT_EQ(s.calls.back(), "supported en-US");
    }
}

TEST(TranscribeFileTest, MissingFileFailsAfterTheModelSteps) {
    Script s;
    s.supported = {{"en-US", "en-US"}};
    s.needsInstall = true;
    EXPECT_THROW(run(s, "en-US", false), platform::AudioError);
    EXPECT_EQ(s.calls, (std::vector<std::string>{"supported en-US", "request en-US", "install",
                                                 "analyzer en-US", "open talk.wav"}));
}

TEST(TranscribeFileTest, EmptyAudioCancelsTheAnalysis) {
    Script s;
    s.supported = {{"en-US", "en-US"}};
    s.frames = 0;
    s.results = {{{{"ghost", AudioTimeRange{0, 1}}}}};
    const Transcript t = run(s, "en-US");
    EXPECT_EQ(s.calls.back(), "cancel");
    EXPECT_TRUE(t.words.empty());
    EXPECT_EQ(t.duration, 0.0);
}

} // namespace
} // namespace quorvane::jobs::transcribe
