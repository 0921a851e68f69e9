// The one translation unit that talks to pocketsphinx.
#include "pocketsphinx/DecodingPipeline.h"
#include "pocketsphinx/PocketsphinxEngine.h"
#include "pocketsphinx/UtteranceSplitter.h"
#include "pocketsphinx/WordText.h"

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <vector>

namespace quorvane::backends::pocketsphinx {

// A back end implements the platform interfaces and speaks in their types.
using namespace platform;
namespace {

constexpr int framesPerSecond = 100;

struct ConfigFree {
    void operator()(cmd_ln_t* c) const { cmd_ln_free_r(c); }
};
struct DecoderFree {
    void operator()(ps_decoder_t* d) const { ps_free(d); }
};
struct SegmentFree {
    void operator()(ps_seg_t* s) const { ps_seg_free(s); }
};

// One pocketsphinx decoder and its settings.
class Recogniser final : public UtteranceDecoder {
  public:
    explicit Recogniser(const ModelFiles& model) {
        const std::string hmm = model.acousticModel.string();
        const std::string lm = model.languageModel.string();
        const std::string dict = model.dictionary.string();
        const std::string rate = std::to_string(AudioSource::analysisRate);
        const std::string frate = std::to_string(framesPerSecond);
        // Silence removal drops frames and would shift word times by seconds.
        // Pruning to at most 3000 active HMMs and 5 word exits per frame cuts
        // decoding time by about a third without costing accuracy on clear
        // speech.
        std::array<const char*, 16> argv = {"-hmm",
                                            hmm.c_str(),
                                            "-lm",
                                            lm.c_str(),
                                            "-dict",
                                            dict.c_str(),
                                            "-samprate",
                                            rate.c_str(),
                                            "-frate",
                                            frate.c_str(),
                                            "-remove_silence",
                                            "no",
                                            "-maxhmmpf",
                                            "3000",
                                            "-maxwpf",
                                            "5"};
        config_.reset(cmd_ln_parse_r(nullptr, ps_args(), static_cast<int>(argv.size()),
                                     const_cast<char**>(argv.data()), TRUE));
        if (!config_)
            throw SpeechError("The speech model for " + model.locale + " has bad settings.");
        decoder_.reset(ps_init(config_.get()));
        if (!decoder_)
            throw SpeechError("The speech model for " + model.locale +
                              " could not be loaded from " +
                              model.acousticModel.parent_path().string() + ".");
    }

    SpeechResult decode(const Utterance& u) override {
        ps_decoder_t* ps = decoder_.get();
        // Each utterance is a stream of its own: the noise estimate starts
        // afresh (the model's settings already normalise each utterance on
        // its own), so a decoder carries nothing from one utterance to the
        // next and any decoder gives the same words.
        if (ps_start_stream(ps) < 0)
            throw SpeechError("The speech engine could not start decoding.");
        if (ps_start_utt(ps) < 0) throw SpeechError("The speech engine could not start decoding.");
        if (ps_process_raw(ps, u.samples.data(), u.samples.size(), FALSE, TRUE) < 0)
            throw SpeechError("The speech engine could not decode the audio.");
        if (ps_end_utt(ps) < 0) throw SpeechError("The speech engine could not finish decoding.");

        // Utterances start on whole frames; counting in frames keeps times like 2.72 exact.
        constexpr int samplesPerFrame = AudioSource::analysisRate / framesPerSecond;
        const std::int64_t offset = u.firstSample / samplesPerFrame;
        SpeechResult result;
        std::unique_ptr<ps_seg_t, SegmentFree> seg(ps_seg_iter(ps));
        for (; seg; seg.reset(ps_seg_next(seg.release()))) {
            const char* token = ps_seg_word(seg.get());
            const auto text = wordText(token ? token : "");
            if (!text) continue;
            int sf = 0, ef = 0;
            ps_seg_frames(seg.get(), &sf, &ef);
            result.runs.push_back(
                {*text, AudioTimeRange{static_cast<double>(offset + sf) / framesPerSecond,
                                       static_cast<double>(offset + ef + 1) / framesPerSecond}});
        }
        return result;
    }

  private:
    std::unique_ptr<cmd_ln_t, ConfigFree> config_;
    std::unique_ptr<ps_decoder_t, DecoderFree> decoder_;
};

// The library ends the process when a model file is missing; say which
// one instead.
void checkFiles(const ModelFiles& model) {
    namespace fs = std::filesystem;
    std::vector<fs::path> needed = {model.languageModel, model.dictionary};
    for (const char* name : {"mdef", "means", "variances", "transition_matrices", "noisedict"})
        needed.push_back(model.acousticModel / name);
    std::error_code ec;
    if (!fs::is_regular_file(model.acousticModel / "mixture_weights", ec) &&
        !fs::is_regular_file(model.acousticModel / "sendump", ec))
        needed.push_back(model.acousticModel / "mixture_weights");
    for (const auto& p : needed)
        if (!fs::is_regular_file(p, ec) || fs::file_size(p, ec) == 0)
            throw SpeechError("The speech model for " + model.locale +
                              " is incomplete: " + p.string() + " is missing.");
}

// Cuts the audio into utterances and decodes them on every thread, handing
// the words on in order with the audio's place on the file's timeline.
class Decoder final : public SpeechAnalyzer {
  public:
    Decoder(const ModelFiles& model, ResultHandler onResult, int threads)
        : onResult_(std::move(onResult)),
          splitter_([this](Utterance&& u) { pipeline_.submit(std::move(u)); }),
          pipeline_(
              threads, static_cast<std::size_t>(2 * threads + 2),
              [this, model] { return makeRecogniser(model); },
              [this](SpeechResult&& r, std::int64_t) { deliver(std::move(r)); }) {}

    std::optional<double> analyzeSequence(AudioSource& audio) override {
        audio_ = &audio;
        std::vector<std::int16_t> chunk(8192);
        while (const std::size_t n = audio.read(chunk.data(), chunk.size())) {
            splitter_.push(chunk.data(), n);
            reportProgress();
        }
        if (splitter_.samplesPushed() == 0) return std::nullopt;
        return static_cast<double>(splitter_.samplesPushed()) / AudioSource::analysisRate;
    }

    void finalizeAndFinish(double) override {
        splitter_.finish();
        pipeline_.finish();
        reportProgress();
    }

    void cancelAndFinishNow() override {}

    void setProgressHandler(ProgressHandler onProgress) override {
        onProgress_ = std::move(onProgress);
    }

  private:
    // Loading touches the library's process-wide state (its log, its
    // argument tables): one decoder is made at a time.
    std::unique_ptr<UtteranceDecoder> makeRecogniser(const ModelFiles& model) {
        std::lock_guard guard(loading_);
        // The library logs to standard error unless told otherwise, already
        // while reading its arguments.
        err_set_logfp(nullptr);
        checkFiles(model);
        return std::make_unique<Recogniser>(model);
    }

    void deliver(SpeechResult&& result) {
        // Times so far count from the first sample read; the file may hold
        // its sound back or begin it after a priming the decoder trimmed.
        // To the microsecond, so that 1.872 + 0.65 reads 2.522.
        const double start = audio_ ? audio_->startTime() : 0.0;
        const auto shift = [start](double t) { return std::round((t + start) * 1e6) / 1e6; };
        for (auto& run : result.runs)
            if (run.timeRange && start != 0) {
                run.timeRange->start = shift(run.timeRange->start);
                run.timeRange->end = shift(run.timeRange->end);
            }
        if (!result.runs.empty()) onResult_(std::move(result));
        reportProgress();
    }

    void reportProgress() {
        if (!onProgress_) return;
        // Done: what the splitter has let go of, less what is still being decoded.
        const std::int64_t settled = splitter_.settledThrough();
        const std::int64_t done = std::min(pipeline_.oldestPending().value_or(settled), settled);
        onProgress_(static_cast<double>(done) / AudioSource::analysisRate);
    }

    ResultHandler onResult_;
    ProgressHandler onProgress_;
    AudioSource* audio_ = nullptr;
    std::mutex loading_;
    UtteranceSplitter splitter_;
    DecodingPipeline pipeline_; // last: its threads stop before the rest goes
};

} // namespace

std::unique_ptr<SpeechAnalyzer> makeDecoder(const ModelFiles& model, ResultHandler onResult,
                                            int threads) {
    return std::make_unique<Decoder>(model, std::move(onResult), std::max(threads, 1));
}

} // namespace quorvane::backends::pocketsphinx
