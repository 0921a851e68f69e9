// The pipeline that decodes utterances on several threads: results come back
// in order, memory stays bounded, a failure surfaces in its turn.
#include "pocketsphinx/DecodingPipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <sched.h>
#include <string>
#include <thread>

namespace quorvane::backends::pocketsphinx {
namespace {

// Answers each utterance with one run naming its first sample, after a
// random pause, and fails on `failAt` when asked to.
class FakeDecoder final : public UtteranceDecoder {
  public:
    FakeDecoder(unsigned seed, std::int64_t failAt) : random_(seed), failAt_(failAt) {}
    platform::SpeechResult decode(const Utterance& u) override {
        std::this_thread::sleep_for(std::chrono::microseconds(random_() % 1500));
        if (u.firstSample == failAt_) throw platform::SpeechError("bad utterance");
        platform::SpeechResult r;
        r.runs.push_back({std::to_string(u.firstSample), std::nullopt});
        return r;
    }

  private:
    std::minstd_rand random_;
    std::int64_t failAt_;
};

Utterance utterance(std::int64_t first, std::size_t samples = 10) {
    Utterance u;
    u.firstSample = first;
    u.samples.assign(samples, 1);
    return u;
}

struct Fed {
    std::vector<std::string> delivered;
    std::vector<std::int64_t> ends;
    std::size_t mostInFlight = 0;
};

// Feeds `count` utterances through a pipeline of `threads` threads.
Fed feed(int threads, std::size_t maxInFlight, int count, std::int64_t failAt = -1,
         DecoderFactory factory = {}) {
    std::atomic<unsigned> seed{1};
    if (!factory) factory = [&] { return std::make_unique<FakeDecoder>(seed++, failAt); };
    Fed run;
    int submitted = 0;
    DecodingPipeline pipeline(threads, maxInFlight, factory,
                              [&](platform::SpeechResult&& r, std::int64_t end) {
                                  run.delivered.push_back(r.runs.at(0).text);
                                  run.ends.push_back(end);
                              });
    for (int i = 0; i < count; ++i) {
        pipeline.submit(utterance(i * 100));
        ++submitted;
        run.mostInFlight =
            std::max(run.mostInFlight, static_cast<std::size_t>(submitted) - run.delivered.size());
    }
    pipeline.finish();
    EXPECT_FALSE(pipeline.oldestPending());
    return run;
}

TEST(DecodingPipeline, ResultsComeBackInOrderWhateverTheThreads) {
    for (int threads : {1, 2, 5}) {
        SCOPED_TRACE(threads);
        const Fed run = feed(threads, static_cast<std::size_t>(2 * threads + 2), 300);
        ASSERT_EQ(run.delivered.size(), 300u);
        for (int i = 0; i < 300; ++i) {
            EXPECT_EQ(run.delivered[static_cast<std::size_t>(i)], std::to_string(i * 100));
            EXPECT_EQ(run.ends[static_cast<std::size_t>(i)], i * 100 + 10);
        }
        EXPECT_LE(run.mostInFlight, static_cast<std::size_t>(2 * threads + 2));
    }
}

TEST(DecodingPipeline, AFailureIsRaisedInItsTurnAfterTheResultsBeforeIt) {
    for (int threads : {1, 3}) {
        SCOPED_TRACE(threads);
        std::vector<std::string> delivered;
        std::atomic<unsigned> seed{7};
        DecodingPipeline pipeline(
            threads, 4, [&] { return std::make_unique<FakeDecoder>(seed++, 500); },
            [&](platform::SpeechResult&& r, std::int64_t) {
                delivered.push_back(r.runs.at(0).text);
            });
        bool thrown = false;
        try {
            for (int i = 0; i < 50; ++i)
                pipeline.submit(utterance(i * 100));
            pipeline.finish();
        } catch (const platform::SpeechError& e) {
            thrown = true;
            EXPECT_STREQ(e.what(), "bad utterance");
        }
        EXPECT_TRUE(thrown);
        ASSERT_EQ(delivered.size(), 5u);
        EXPECT_EQ(delivered.back(), "400");
    } // the destructor drops what is queued and joins
}

TEST(DecodingPipeline, ThreadsWhoseDecoderCannotBeMadeLeaveTheWorkToTheRest) {
    std::atomic<int> made{0};
    const Fed run = feed(3, 8, 60, -1, [&]() -> std::unique_ptr<UtteranceDecoder> {
        if (made++ > 0) throw platform::SpeechError("no memory for a second model");
        return std::make_unique<FakeDecoder>(3, -1);
    });
    EXPECT_EQ(run.delivered.size(), 60u);
    EXPECT_EQ(made.load(), 3);
}

TEST(DecodingPipeline, AFirstDecoderThatCannotBeMadeFailsAtOnce) {
    EXPECT_THROW(DecodingPipeline(
                     2, 4,
                     []() -> std::unique_ptr<UtteranceDecoder> {
                         throw platform::SpeechError("model missing");
                     },
                     [](platform::SpeechResult&&, std::int64_t) {}),
                 platform::SpeechError);
}

TEST(DecodingPipeline, OldestPendingTellsWhatIsDone) {
    // One slow thread: what is queued stays pending until handed back.
    std::atomic<bool> release{false};
    class Gate final : public UtteranceDecoder {
      public:
        explicit Gate(std::atomic<bool>& open) : open_(open) {}
        platform::SpeechResult decode(const Utterance&) override {
            while (!open_)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return {};
        }

      private:
        std::atomic<bool>& open_;
    };
    int delivered = 0;
    DecodingPipeline pipeline(
        1, 4, [&] { return std::make_unique<Gate>(release); },
        [&](platform::SpeechResult&&, std::int64_t) { ++delivered; });
    EXPECT_FALSE(pipeline.oldestPending());
    pipeline.submit(utterance(1600));
    pipeline.submit(utterance(3200));
    EXPECT_EQ(pipeline.oldestPending(), 1600);
    release = true;
    pipeline.finish();
    EXPECT_EQ(delivered, 2);
    EXPECT_FALSE(pipeline.oldestPending());
}

TEST(DecodingThreads, FollowTheProcessorsThisThreadMayUse) {
    cpu_set_t saved;
    ASSERT_EQ(sched_getaffinity(0, sizeof saved, &saved), 0);
    const int all = CPU_COUNT(&saved);
    EXPECT_EQ(decodingThreads(64), std::min(all, 64));
    EXPECT_EQ(decodingThreads(1), 1);
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &saved)) {
            CPU_SET(cpu, &one);
            break;
        }
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    EXPECT_EQ(decodingThreads(8), 1);
    ASSERT_EQ(sched_setaffinity(0, sizeof saved, &saved), 0);
}

} // namespace
} // namespace quorvane::backends::pocketsphinx
