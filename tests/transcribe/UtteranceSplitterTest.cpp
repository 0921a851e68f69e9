#include "pocketsphinx/UtteranceSplitter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace quorvane::backends::pocketsphinx {
namespace {

// Builds a 16 kHz signal from pieces of tone ("speech") and silence.
struct Signal {
    std::vector<std::int16_t> samples;
    void tone(double seconds, double amplitude = 8000) {
        const auto n = static_cast<std::size_t>(seconds * 16000);
        for (std::size_t i = 0; i < n; ++i)
            samples.push_back(static_cast<std::int16_t>(amplitude * std::sin(i * 0.2)));
    }
    void silence(double seconds, std::int16_t noise = 0) {
        const auto n = static_cast<std::size_t>(seconds * 16000);
        for (std::size_t i = 0; i < n; ++i)
            samples.push_back(static_cast<std::int16_t>(noise ? (i % 2 ? noise : -noise) : 0));
    }
};

std::vector<Utterance> split(const Signal& s, std::size_t chunk = 1000) {
    std::vector<Utterance> out;
    UtteranceSplitter splitter([&out](Utterance&& u) { out.push_back(std::move(u)); });
    for (std::size_t i = 0; i < s.samples.size(); i += chunk)
        splitter.push(s.samples.data() + i, std::min(chunk, s.samples.size() - i));
    splitter.finish();
    EXPECT_EQ(splitter.samplesPushed(), static_cast<std::int64_t>(s.samples.size()));
    return out;
}

void expectSamplesMatch(const Signal& s, const std::vector<Utterance>& us) {
    std::int64_t last = 0;
    for (const auto& u : us) {
        EXPECT_GE(u.firstSample, last);
        ASSERT_LE(u.firstSample + static_cast<std::int64_t>(u.samples.size()),
                  static_cast<std::int64_t>(s.samples.size()));
        EXPECT_TRUE(
            std::equal(u.samples.begin(), u.samples.end(), s.samples.begin() + u.firstSample));
        last = u.firstSample + static_cast<std::int64_t>(u.samples.size());
    }
}

TEST(UtteranceSplitterTest, CutsAtPausesAndKeepsStreamPositions) {
    for (std::int16_t noise : {0, 30}) {
        Signal s;
        s.silence(2.0, noise);
        s.tone(1.5);
        s.silence(0.1, noise); // a short gap inside one utterance
        s.tone(0.5);
        s.silence(5.0, noise);
        s.tone(1.0);
        s.silence(0.05, noise);
        const auto us = split(s, 777);
        ASSERT_EQ(us.size(), 2u) << noise;
        expectSamplesMatch(s, us);
        // Each utterance holds its speech with a short margin of silence.
        EXPECT_EQ(us[0].firstSample, static_cast<std::int64_t>(2.0 * 16000) - 15 * 160);
        EXPECT_EQ(us[0].samples.size(),
                  static_cast<std::size_t>((1.5 + 0.1 + 0.5) * 16000) + 30 * 160);
        EXPECT_EQ(us[1].firstSample, static_cast<std::int64_t>(9.1 * 16000) - 15 * 160);
        EXPECT_EQ(us[1].firstSample + static_cast<std::int64_t>(us[1].samples.size()),
                  static_cast<std::int64_t>(s.samples.size()));
    }
}

TEST(UtteranceSplitterTest, SilenceAloneGivesNothing) {
    for (std::int16_t noise : {0, 3, 300}) {
        Signal s;
        s.silence(30.0, noise);
        EXPECT_TRUE(split(s).empty()) << noise;
    }
    EXPECT_TRUE(split(Signal{}).empty());
}

TEST(UtteranceSplitterTest, LongSpeechWithoutPausesIsCutToBoundedPieces) {
    Signal s;
    for (int i = 0; i < 30; ++i) {
        s.tone(1.9);
        s.tone(0.1, 500); // quieter, but no pause
    }
    const auto us = split(s);
    ASSERT_GE(us.size(), 3u);
    expectSamplesMatch(s, us);
    std::size_t total = 0;
    for (const auto& u : us) {
        EXPECT_LE(u.samples.size(), 2000u * 160);
        total += u.samples.size();
    }
    // Nothing of the speech is lost between pieces.
    EXPECT_EQ(total, s.samples.size());
}

TEST(UtteranceSplitterTest, SpeechOverASteadyHumIsKeptToTheEnd) {
    // A hum that never pauses, and "speech" on top of it that stands only
    // about 5 dB above it, with short dips to the hum between words.
    Signal s;
    const auto hum = [](std::size_t i) { return 3000 * std::sin(i * 0.05); };
    std::vector<std::pair<std::size_t, std::size_t>> spoken;
    for (int second = 0; second < 40; ++second) {
        const bool speaking = second >= 2 && second % 8 < 6;
        const std::size_t start = s.samples.size();
        for (std::size_t i = 0; i < 16000; ++i) {
            const std::size_t n = start + i;
            const bool word = speaking && i < 14400;
            s.samples.push_back(
                static_cast<std::int16_t>(hum(n) + (word ? 4500 * std::sin(n * 0.3) : 0)));
        }
        if (speaking) spoken.emplace_back(start, start + 14400);
    }
    const auto us = split(s);
    expectSamplesMatch(s, us);
    for (const auto& [from, to] : spoken) {
        const bool covered = std::any_of(us.begin(), us.end(), [&](const Utterance& u) {
            return u.firstSample <= static_cast<std::int64_t>(from) &&
                   u.firstSample + static_cast<std::int64_t>(u.samples.size()) >=
                       static_cast<std::int64_t>(to);
        });
        EXPECT_TRUE(covered) << "speech at " << from / 16000.0 << " s was dropped";
    }
}

} // namespace
} // namespace quorvane::backends::pocketsphinx
