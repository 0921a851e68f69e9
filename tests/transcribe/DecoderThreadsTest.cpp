// The real pocketsphinx decoder on flite speech: the words and their times
// do not depend on how many threads decode, and the audio's place on the
// file's timeline moves every word.
#include "pocketsphinx/ModelCatalog.h"
#include "pocketsphinx/PocketsphinxEngine.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>

namespace quorvane::backends::pocketsphinx {
namespace {

namespace fs = std::filesystem;

// Samples of a plain 16 kHz mono WAV file as flite writes it.
std::vector<std::int16_t> readWav(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    std::vector<std::int16_t> samples;
    if (bytes.size() <= 44) return samples;
    samples.resize((bytes.size() - 44) / 2);
    std::memcpy(samples.data(), bytes.data() + 44, samples.size() * 2);
    return samples;
}

class MemoryAudio final : public platform::AudioSource {
  public:
    MemoryAudio(const std::vector<std::int16_t>& samples, double start)
        : samples_(samples), start_(start) {}
    std::size_t read(std::int16_t* out, std::size_t max) override {
        const std::size_t n = std::min(max, samples_.size() - pos_);
        std::copy_n(samples_.begin() + static_cast<std::ptrdiff_t>(pos_), n, out);
        pos_ += n;
        return n;
    }
    double sampleRate() const override { return 16000; }
    std::int64_t framesRead() const override { return static_cast<std::int64_t>(pos_); }
    double startTime() const override { return start_; }

  private:
    const std::vector<std::int16_t>& samples_;
    std::size_t pos_ = 0;
    double start_;
};

struct Word {
    std::string text;
    double start, end;
    bool operator==(const Word&) const = default;
};

void PrintTo(const Word& w, std::ostream* os) {
    *os << w.text << "@" << w.start << "-" << w.end;
}

class DecoderThreads : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (std::system("command -v flite >/dev/null 2>&1") != 0) return;
        const quorvane::testing::TempDir dir("quorvane-decoder");
        const char* sentences[] = {
            "the quick brown fox jumps over the lazy dog",
            "open the window and let the fresh air into the room",
            "please bring the red book back to the library before friday",
            "the children played in the park until the sun went down",
            "we bought fresh bread and milk at the market this morning",
            "turn left at the next corner and walk two blocks",
        };
        for (const char* text : sentences) {
            const fs::path wav = dir.path / "s.wav";
            const std::string cmd =
                "flite -voice slt -t '" + std::string(text) + "' -o " + wav.string();
            ASSERT_EQ(std::system(cmd.c_str()), 0);
            const auto s = readWav(wav);
            speech.insert(speech.end(), s.begin(), s.end());
            speech.insert(speech.end(), 16000 * 6 / 10, 0); // a pause between sentences
        }
    }
    static void TearDownTestSuite() { speech.clear(); }

    std::vector<Word> decode(int threads, double start = 0) {
        const auto models = findModels(systemModelFolder);
        EXPECT_FALSE(models.empty());
        std::vector<Word> words;
        std::vector<double> progress;
        auto analyzer = makeDecoder(
            models.at(0),
            [&](platform::SpeechResult r) {
                for (auto& run : r.runs)
                    words.push_back({run.text, run.timeRange->start, run.timeRange->end});
            },
            threads);
        analyzer->setProgressHandler([&](double s) { progress.push_back(s); });
        MemoryAudio audio(speech, start);
        const auto last = analyzer->analyzeSequence(audio);
        EXPECT_TRUE(last);
        analyzer->finalizeAndFinish(*last);
        // Progress only grows, and ends with the whole audio.
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
        EXPECT_FALSE(progress.empty());
        if (!progress.empty()) {
            EXPECT_DOUBLE_EQ(progress.back(), *last);
        }
        return words;
    }

    static std::vector<std::int16_t> speech; // empty without flite
};
std::vector<std::int16_t> DecoderThreads::speech;

TEST_F(DecoderThreads, ManyThreadsGiveTheWordsOfOne) {
    if (speech.empty()) GTEST_SKIP() << "flite is not installed";
    if (findModels(systemModelFolder).empty()) GTEST_SKIP() << "no speech model";
    const auto one = decode(1);
    ASSERT_GT(one.size(), 30u); // six sentences were spoken
    const auto three = decode(3);
    EXPECT_EQ(three.size(), one.size());
    for (std::size_t i = 0; i < std::min(one.size(), three.size()); ++i)
        ASSERT_EQ(three[i], one[i]) << "word " << i;
    for (std::size_t i = 1; i < one.size(); ++i)
        EXPECT_LE(one[i - 1].start, one[i].start);
}

TEST_F(DecoderThreads, TheAudiosPlaceOnTheTimelineMovesEveryWord) {
    if (speech.empty()) GTEST_SKIP() << "flite is not installed";
    if (findModels(systemModelFolder).empty()) GTEST_SKIP() << "no speech model";
    const auto plain = decode(2);
    const auto late = decode(2, 1.936);
    ASSERT_EQ(plain.size(), late.size());
    for (std::size_t i = 0; i < plain.size(); ++i) {
        EXPECT_EQ(late[i].text, plain[i].text);
        EXPECT_NEAR(late[i].start, plain[i].start + 1.936, 1e-6);
        EXPECT_NEAR(late[i].end, plain[i].end + 1.936, 1e-6);
    }
}

} // namespace
} // namespace quorvane::backends::pocketsphinx
