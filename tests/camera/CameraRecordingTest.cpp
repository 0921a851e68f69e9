// The recording engine end to end in one process: a synthetic camera and
// microphone on a test clock, the real movie writer, ffprobe on the result.
#include "EngineSupport.h"
#include "support/TempDir.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

using namespace quorvane;
using namespace quorvane::testing;
namespace fs = std::filesystem;

namespace {

const platform::CaptureDevice syntheticCamera{"synthetic-0", "Synthetic Camera", "/dev/null"};
const platform::CaptureDevice syntheticMicrophone{"synthetic-mic", "Synthetic Microphone", "none"};

class CameraRecordingTest : public ::testing::Test {
  protected:
    void TearDown() override {
        recording_.reset(); // drains its queues before the folder goes
    }

    jobs::camera::CameraRecording& record(std::int64_t size, bool microphone = false) {
        recording_ = std::make_unique<jobs::camera::CameraRecording>(
            file_, size, syntheticCamera,
            microphone ? std::optional(syntheticMicrophone) : std::nullopt,
            servicesFor(camera_, output_));
        return *recording_;
    }

    // Starts the recording and waits until its session runs.
    void start() {
        recording_->start();
        ASSERT_TRUE(camera_.waitUntilRunning());
    }

    // Pictures every 1/30 s from `from` up to and including `to`.
    void frames(double from, double to) {
        for (double t = from; t <= to + 1e-9; t += 1.0 / 30)
            camera_.frame(t);
    }

    SyntheticCamera camera_;
    CaughtOutput output_;
    std::unique_ptr<jobs::camera::CameraRecording> recording_;
    quorvane::testing::TempDir temp_{"quorvane-camera"};
    const std::string dir_ = temp_.path.string();
    const std::string file_ = dir_ + "/take.mov";
};

TEST_F(CameraRecordingTest, RecordsASquareMirroredMovieAndReportsBothEvents) {
    camera_.clock = 10.25; // the first picture is a quarter of a second old when written
    record(240);
    start();
    camera_.frame(10.0);
    frames(10.0 + 1.0 / 30, 12.4);
    camera_.frame(12.5);
    recording_->stop();
    const auto ending = output_.waitForEnding();

    const auto printed = output_.printed();
    ASSERT_EQ(printed.size(), 1u);
    const auto& started = printed[0];
    EXPECT_EQ(keys(started),
              (std::vector<std::string>{"at", "camera", "event", "height", "mic", "ok", "width"}));
    EXPECT_EQ(text(started, "event"), "started");
    EXPECT_TRUE(flag(started, "ok"));
    EXPECT_EQ(number(started, "width"), 240);
    EXPECT_EQ(number(started, "height"), 240);
    EXPECT_FALSE(flag(started, "mic"));
    EXPECT_EQ(text(started, "camera"), "Synthetic Camera");
    EXPECT_DOUBLE_EQ(number(started, "at"), testWallTime - 0.25);

    EXPECT_EQ(ending.status, 0);
    EXPECT_EQ(keys(ending.object), (std::vector<std::string>{"event", "file", "ok", "seconds"}));
    EXPECT_EQ(text(ending.object, "event"), "stopped");
    EXPECT_EQ(text(ending.object, "file"), file_);
    EXPECT_EQ(number(ending.object, "seconds"), 2.533);

    const auto facts = probe(file_);
    EXPECT_EQ(facts.at("video.codec_name"), "h264");
    EXPECT_EQ(facts.at("video.width"), "240");
    EXPECT_EQ(facts.at("video.height"), "240");
    EXPECT_EQ(facts.count("audio.codec_name"), 0u);
    EXPECT_NEAR(std::stod(facts.at("format.duration")), 2.533, 0.02);

    // The camera saw bright on its left; the movie shows it on the right.
    const auto grey = firstPictureGrey8x8(file_);
    ASSERT_EQ(grey.size(), 64u);
    EXPECT_LT(grey[0], 60);
    EXPECT_GT(grey[7], 190);
}

TEST_F(CameraRecordingTest, AStartedEventThatCannotBeWrittenStopsWithAFinishedMovie) {
    output_.refusing = true; // standard output has gone
    record(240);
    start();
    camera_.frame(10.0);
    frames(10.0 + 1.0 / 30, 11.0);
    const auto ending = output_.waitForEnding();
    EXPECT_EQ(text(ending.object, "event"), "stopped");
    // More pictures after the end change nothing.
    frames(11.0 + 1.0 / 30, 11.5);
    EXPECT_EQ(output_.endings().size(), 1u);
    const auto facts = probe(file_);
    EXPECT_EQ(facts.at("video.codec_name"), "h264");
}

TEST_F(CameraRecordingTest, ChoosesCaptureSizeFrameRateAndMirroring) {
    struct Case {
        std::int64_t size;
        std::vector<platform::SessionPreset> accepted;
        std::vector<platform::SessionPreset> tried;
    };
    using P = platform::SessionPreset;
    const Case cases[] = {
        {720, {P::size1920x1080, P::size1280x720, P::high}, {P::size1280x720}},
        {722, {P::size1920x1080, P::size1280x720, P::high}, {P::size1920x1080}},
        {1440, {P::size1280x720, P::high}, {P::size1920x1080, P::size1280x720}},
        {240, {P::high}, {P::size1280x720, P::high}},
        {1000, {}, {P::size1920x1080, P::size1280x720, P::high}}, // the camera's own size stays
    };
    for (const auto& c : cases) {
        SyntheticCamera camera;
        camera.acceptedPresets = c.accepted;
        CaughtOutput output;
        jobs::camera::CameraRecording recording(file_, c.size, syntheticCamera, std::nullopt,
                                                servicesFor(camera, output));
        EXPECT_EQ(camera.presetsTried, c.tried) << "size " << c.size;
        EXPECT_TRUE(camera.mirrored);
        ASSERT_TRUE(camera.frameDuration.has_value());
        EXPECT_DOUBLE_EQ(*camera.frameDuration, 1.0 / 30);
    }

    // No range holds 30: the camera keeps its rate. A refused lock is no error.
    struct Rates {
        std::vector<platform::FrameRateRange> ranges;
        bool lockFails;
        bool set;
    };
    const Rates rates[] = {
        {{{60, 60}, {5, 15}}, false, false},
        {{{60, 60}, {15, 30}}, false, true},
        {{{30, 30}}, true, false},
    };
    for (const auto& r : rates) {
        SyntheticCamera camera;
        camera.frameRates = r.ranges;
        camera.frameRateLockFails = r.lockFails;
        CaughtOutput output;
        jobs::camera::CameraRecording recording(file_, 240, syntheticCamera, std::nullopt,
                                                servicesFor(camera, output));
        EXPECT_EQ(camera.frameDuration.has_value(), r.set);
    }
}

TEST_F(CameraRecordingTest, OneFrameAndAReasonGiveOneFrameLength) {
    camera_.clock = 5.0;
    record(240);
    start();
    camera_.frame(5.0);
    recording_->stop("The camera was disconnected.");
    const auto ending = output_.waitForEnding();
    EXPECT_EQ(ending.status, 0);
    EXPECT_EQ(text(ending.object, "event"), "stopped");
    EXPECT_EQ(number(ending.object, "seconds"), 0.033);
    EXPECT_EQ(text(ending.object, "reason"), "The camera was disconnected.");
    EXPECT_EQ(probe(file_).at("video.codec_name"), "h264");
}

TEST_F(CameraRecordingTest, ADriverClockThatJumpsKeepsEveryPictureAndTheTrueLength) {
    // Two seconds of pictures whose stamps step back by 100 s, or ahead by an
    // hour, after the first second; the host clock goes on as it should.
    for (double step : {-100.0, 3600.0}) {
        SCOPED_TRACE(step);
        SyntheticCamera camera;
        CaughtOutput output;
        auto hostTime = std::make_shared<std::atomic<double>>(50.0);
        auto services = servicesFor(camera, output);
        services.hostTime = [hostTime] { return hostTime->load(); };
        {
            jobs::camera::CameraRecording recording(file_, 240, syntheticCamera, std::nullopt,
                                                    services);
            recording.start();
            ASSERT_TRUE(camera.waitUntilRunning());
            for (int k = 0; k < 60; ++k) {
                // Each picture is handled before the host clock moves on.
                while (camera.outstanding() > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                *hostTime = 50.0 + k / 30.0;
                camera.frame(10.0 + k / 30.0 + (k >= 30 ? step : 0.0));
            }
            recording.stop();
            const auto ending = output.waitForEnding();
            ASSERT_EQ(ending.status, 0) << text(ending.object, "error");
            EXPECT_EQ(number(ending.object, "seconds"), 2.0);
        }
        const auto facts = probe(file_);
        EXPECT_EQ(facts.at("video.nb_read_frames"), "60");
        EXPECT_NEAR(std::stod(facts.at("format.duration")), 2.0, 0.05);
    }
}

// Passes over every picture after the first, as a writer does with a
// picture it cannot place after the one before.
class SkippingWriter final : public platform::MovieWriter {
  public:
    explicit SkippingWriter(std::unique_ptr<platform::MovieWriter> real) : real_(std::move(real)) {}
    void writeVideo(const platform::VideoFrame& frame, double time) override {
        if (real_->framesWritten() == 0) real_->writeVideo(frame, time);
    }
    void writeAudio(const std::int16_t* samples, int frames, double time) override {
        real_->writeAudio(samples, frames, time);
    }
    void finish(double endTime) override { real_->finish(endTime); }
    std::int64_t framesWritten() const override { return real_->framesWritten(); }

  private:
    std::unique_ptr<platform::MovieWriter> real_;
};

TEST_F(CameraRecordingTest, APictureTheWriterPassesOverEndsTheRecording) {
    auto services = servicesFor(camera_, output_);
    services.openWriter =
        [](const platform::MovieSettings& settings) -> std::unique_ptr<platform::MovieWriter> {
        return std::make_unique<SkippingWriter>(platform::openMovieWriter(settings));
    };
    recording_ = std::make_unique<jobs::camera::CameraRecording>(file_, 240, syntheticCamera,
                                                                 std::nullopt, services);
    start();
    frames(1.0, 1.2);
    const auto ending = output_.waitForEnding();
    EXPECT_EQ(ending.status, 1);
    EXPECT_EQ(text(ending.object, "error"), "The video file could not be written. A picture "
                                            "could not be placed after the one before it.");
    EXPECT_EQ(text(ending.object, "file"), file_);
    recording_.reset();
    EXPECT_EQ(probe(file_).at("video.nb_read_frames"), "1");
}

TEST_F(CameraRecordingTest, StopBeforeTheFirstPictureDeletesTheFile) {
    const std::optional<std::string> reasons[] = {std::nullopt, "Another app took the camera."};
    const std::string messages[] = {
        "The recording stopped before the camera sent a picture.",
        "The camera stopped before it sent a picture. Another app took the camera."};
    for (int i = 0; i < 2; ++i) {
        SyntheticCamera camera;
        CaughtOutput output;
        std::ofstream(file_) << "an older take";
        {
            jobs::camera::CameraRecording recording(file_, 240, syntheticCamera, std::nullopt,
                                                    servicesFor(camera, output));
            recording.start();
            ASSERT_TRUE(camera.waitUntilRunning());
            recording.stop(reasons[i]);
            const auto ending = output.waitForEnding();
            EXPECT_EQ(ending.status, 1);
            EXPECT_EQ(keys(ending.object), (std::vector<std::string>{"error", "ok"}));
            EXPECT_EQ(text(ending.object, "error"), messages[i]);
            recording.stop(); // too late to matter
        }
        EXPECT_FALSE(fs::exists(file_));
        EXPECT_TRUE(output.printed().empty());
        EXPECT_EQ(output.endings().size(), 1u);
        EXPECT_FALSE(camera.running);
    }
}

TEST_F(CameraRecordingTest, NoPictureCheckEndsOnlyARecordingWithoutPictures) {
    record(240);
    start();
    recording_->checkStarted();
    const auto ending = output_.waitForEnding();
    EXPECT_EQ(ending.status, 1);
    EXPECT_EQ(
        text(ending.object, "error"),
        "The camera did not send a picture. Check that no other app is using it, then try again.");
    EXPECT_EQ(ending.object.count("file"), 0u);
    EXPECT_FALSE(fs::exists(file_));
    recording_->stop();
    recording_.reset();
    EXPECT_EQ(output_.endings().size(), 1u);

    // With a picture written, or once stopping began, the check does nothing.
    for (bool stopFirst : {false, true}) {
        SyntheticCamera camera;
        CaughtOutput output;
        {
            jobs::camera::CameraRecording recording(file_, 240, syntheticCamera, std::nullopt,
                                                    servicesFor(camera, output));
            recording.start();
            ASSERT_TRUE(camera.waitUntilRunning());
            camera.frame(1.0);
            if (stopFirst) recording.stop();
            recording.checkStarted();
            if (!stopFirst) recording.stop();
            EXPECT_EQ(text(output.waitForEnding().object, "event"), "stopped");
            recording.checkStarted();
            recording.stop();
        } // its queues are drained here
        EXPECT_EQ(output.endings().size(), 1u);
    }
}

// Fails every picture from the n-th on; tells whether it was finished.
class FailingWriter final : public platform::MovieWriter {
  public:
    FailingWriter(std::unique_ptr<platform::MovieWriter> real, int failFrom,
                  std::shared_ptr<std::atomic<bool>> finished = nullptr)
        : real_(std::move(real)), failFrom_(failFrom), finished_(std::move(finished)) {}
    void writeVideo(const platform::VideoFrame& frame, double time) override {
        if (++count_ >= failFrom_) throw platform::MovieError("No space left on device");
        real_->writeVideo(frame, time);
    }
    void writeAudio(const std::int16_t* samples, int frames, double time) override {
        real_->writeAudio(samples, frames, time);
    }
    void finish(double endTime) override {
        real_->finish(endTime);
        if (finished_) *finished_ = true;
    }
    std::int64_t framesWritten() const override { return real_->framesWritten(); }

  private:
    std::unique_ptr<platform::MovieWriter> real_;
    int failFrom_;
    std::shared_ptr<std::atomic<bool>> finished_;
    int count_ = 0;
};

TEST_F(CameraRecordingTest, StopsRacingAWritingFailurePrintOneFinalLine) {
    auto services = servicesFor(camera_, output_);
    auto finished = std::make_shared<std::atomic<bool>>(false);
    services.openWriter =
        [finished](
            const platform::MovieSettings& settings) -> std::unique_ptr<platform::MovieWriter> {
        return std::make_unique<FailingWriter>(platform::openMovieWriter(settings), 3, finished);
    };
    recording_ = std::make_unique<jobs::camera::CameraRecording>(file_, 240, syntheticCamera,
                                                                 std::nullopt, services);
    start();
    frames(1.0, 1.2); // the third picture fails, before any stop is queued
    std::vector<std::thread> stoppers;
    for (int i = 0; i < 4; ++i)
        stoppers.emplace_back([this, i] {
            for (int n = 0; n < 25; ++n) {
                if (i % 2)
                    recording_->stop("The camera was disconnected.");
                else
                    recording_->stop();
                recording_->checkStarted();
            }
        });
    for (auto& t : stoppers)
        t.join();
    const auto ending = output_.waitForEnding();
    recording_.reset();
    EXPECT_EQ(output_.endings().size(), 1u);
    EXPECT_EQ(ending.status, 1);
    EXPECT_EQ(text(ending.object, "error"),
              "The video file could not be written. No space left on device");
    EXPECT_EQ(text(ending.object, "file"), file_);
    EXPECT_EQ(output_.printed().size(), 1u); // `started` came before the failure
    // The two pictures written before the failure are kept in a finished movie.
    EXPECT_TRUE(*finished);
    const auto facts = probe(file_);
    EXPECT_EQ(facts.at("video.codec_name"), "h264");
    EXPECT_EQ(facts.at("video.nb_read_frames"), "2");
}

TEST_F(CameraRecordingTest, ACameraThatGoesQuietEndsTheRecordingAsALoss) {
    auto hostTime = std::make_shared<std::atomic<double>>(100.0);
    auto services = servicesFor(camera_, output_);
    services.hostTime = [hostTime] { return hostTime->load(); };
    recording_ = std::make_unique<jobs::camera::CameraRecording>(file_, 240, syntheticCamera,
                                                                 std::nullopt, services);
    start();
    // Host times are read when the queue gets to each step: wait for it.
    auto written = [this] {
        while (camera_.outstanding() > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    *hostTime = 130.0;
    recording_->checkStalled(); // before the first picture the no-picture check decides
    frames(1.0, 1.5);           // written at host time 130
    written();
    *hostTime = 130.0 + jobs::camera::CameraRecording::stallSeconds - 0.01;
    recording_->checkStalled(); // not yet
    camera_.frame(1.6);         // just in time: the wait begins again
    written();
    EXPECT_TRUE(output_.endings().empty());
    *hostTime = 134.99 + jobs::camera::CameraRecording::stallSeconds;
    recording_->checkStalled();
    recording_->stop(); // too late: the stall ended it
    const auto ending = output_.waitForEnding();
    recording_.reset();
    EXPECT_EQ(output_.endings().size(), 1u);
    EXPECT_EQ(ending.status, 0);
    EXPECT_EQ(text(ending.object, "event"), "stopped");
    EXPECT_EQ(text(ending.object, "reason"), "The camera stopped sending pictures.");
    EXPECT_EQ(number(ending.object, "seconds"), 0.633);
    EXPECT_EQ(probe(file_).at("video.nb_read_frames"), "17");
}

TEST_F(CameraRecordingTest, WritesSoundOnlyFromTheFirstPictureOn) {
    camera_.clock = 10.0;
    record(240, true);
    start();
    for (int k = 0; k < 100; ++k)
        camera_.sound(9.0 + k * 0.01, 480, true); // before any picture
    camera_.frame(10.0);
    camera_.sound(9.99, 480, true); // arrives late, still earlier than the first picture
    // Then ten-millisecond pieces in time order with the pictures: silent for
    // the first second, a tone for the second.
    int next = 1;
    for (int k = 0; k < 200; ++k) {
        const double at = 10.0 + k * 0.01;
        for (; next <= 60 && 10.0 + next / 30.0 <= at + 1e-9; ++next)
            camera_.frame(10.0 + next / 30.0);
        camera_.sound(at, 480, k >= 100);
    }
    for (; next <= 60; ++next)
        camera_.frame(10.0 + next / 30.0);
    recording_->stop();
    const auto ending = output_.waitForEnding();
    ASSERT_EQ(ending.status, 0) << text(ending.object, "error");
    EXPECT_TRUE(flag(output_.printed().at(0), "mic"));

    const auto facts = probe(file_);
    EXPECT_EQ(facts.at("audio.codec_name"), "aac");
    EXPECT_EQ(facts.at("audio.sample_rate"), "48000");
    EXPECT_EQ(facts.at("audio.channels"), "1");
    const auto sound = soundSamples(file_);
    ASSERT_GT(sound.size(), 48000u * 19 / 10);
    auto loudest = [&](std::size_t from, std::size_t to) {
        int peak = 0;
        for (std::size_t i = from; i < to && i < sound.size(); ++i)
            peak = std::max(peak, std::abs(int{sound[i]}));
        return peak;
    };
    EXPECT_LT(loudest(0, 48000 * 9 / 10), 1000); // the tone before the first picture is not there
    EXPECT_GT(loudest(48000 * 11 / 10, 48000 * 19 / 10), 10000);
}

TEST_F(CameraRecordingTest, ARefusedMicrophoneRecordsSilently) {
    camera_.microphoneOpens = false;
    record(240, true);
    start();
    camera_.frame(1.0);
    camera_.sound(1.0, 4800, true);
    camera_.frame(1.1);
    recording_->stop();
    EXPECT_EQ(output_.waitForEnding().status, 0);
    EXPECT_FALSE(flag(output_.printed().at(0), "mic"));
    EXPECT_EQ(probe(file_).count("audio.codec_name"), 0u);
}

TEST_F(CameraRecordingTest, AMovieThatCannotTakeSoundClosesTheMicrophone) {
    auto services = servicesFor(camera_, output_);
    services.openWriter = [](const platform::MovieSettings& settings) {
        if (settings.audio) throw platform::MovieError("no sound track here");
        return platform::openMovieWriter(settings);
    };
    recording_ = std::make_unique<jobs::camera::CameraRecording>(file_, 240, syntheticCamera,
                                                                 syntheticMicrophone, services);
    EXPECT_TRUE(camera_.microphoneRemoved);
    start();
    camera_.frame(1.0);
    camera_.sound(1.0, 4800, true); // nobody listens any more
    camera_.frame(1.1);
    recording_->stop();
    EXPECT_EQ(output_.waitForEnding().status, 0);
    EXPECT_FALSE(flag(output_.printed().at(0), "mic"));
    EXPECT_EQ(probe(file_).count("audio.codec_name"), 0u);
}

TEST_F(CameraRecordingTest, AgeThatIsNegativeOrNotANumberCountsAsZero) {
    for (double clock : {0.5, std::nan("")}) {
        SyntheticCamera camera;
        camera.clock = clock;
        CaughtOutput output;
        jobs::camera::CameraRecording recording(file_, 240, syntheticCamera, std::nullopt,
                                                servicesFor(camera, output));
        recording.start();
        ASSERT_TRUE(camera.waitUntilRunning());
        camera.frame(3.0);
        recording.stop();
        output.waitForEnding();
        EXPECT_DOUBLE_EQ(number(output.printed().at(0), "at"), testWallTime);
    }
    // A session without a clock of its own is measured on the host clock.
    SyntheticCamera camera;
    camera.hasClock = false;
    CaughtOutput output;
    jobs::camera::CameraRecording recording(file_, 240, syntheticCamera, std::nullopt,
                                            servicesFor(camera, output));
    recording.start();
    ASSERT_TRUE(camera.waitUntilRunning());
    camera.frame(-3.0); // the test host clock says -1
    recording.stop();
    output.waitForEnding();
    EXPECT_DOUBLE_EQ(number(output.printed().at(0), "at"), testWallTime - 2.0);
}

TEST_F(CameraRecordingTest, SetUpFailuresCarryTheirSentenceAndLeaveNoFile) {
    struct Case {
        bool opens;
        bool readable;
        std::string message;
    };
    const Case cases[] = {
        {false, true, "The camera could not be opened. Another app may be using it."},
        {true, false, "The camera picture could not be read."},
    };
    for (const auto& c : cases) {
        SyntheticCamera camera;
        camera.opens = c.opens;
        camera.picturesReadable = c.readable;
        CaughtOutput output;
        std::ofstream(file_) << "an older take";
        try {
            jobs::camera::CameraRecording recording(file_, 240, syntheticCamera, std::nullopt,
                                                    servicesFor(camera, output));
            ADD_FAILURE() << "set-up went on";
        } catch (const jobs::camera::RecorderError& error) {
            EXPECT_EQ(std::string(error.what()), c.message);
        }
        EXPECT_FALSE(fs::exists(file_));
    }
    // The writer's own error passes through.
    SyntheticCamera camera;
    CaughtOutput output;
    EXPECT_THROW(jobs::camera::CameraRecording(dir_ + "/missing/take.mov", 240, syntheticCamera,
                                               std::nullopt, servicesFor(camera, output)),
                 platform::MovieError);
}

TEST(CameraMovieSettings, BitRateGrowsWithTheSquareAboveTheFloor) {
    EXPECT_EQ(jobs::camera::cameraMovieSettings("a.mov", 240, false).video.bitRate, 2000000);
    EXPECT_EQ(jobs::camera::cameraMovieSettings("a.mov", 720, false).video.bitRate, 2592000);
    EXPECT_EQ(jobs::camera::cameraMovieSettings("a.mov", 1440, false).video.bitRate, 10368000);
    const auto s = jobs::camera::cameraMovieSettings("a.mov", 1000, true);
    EXPECT_EQ(s.video.width, 1000);
    EXPECT_EQ(s.video.height, 1000);
    EXPECT_DOUBLE_EQ(s.video.keyFrameSeconds, 2.0);
    EXPECT_DOUBLE_EQ(s.video.expectedFps, 30.0);
    ASSERT_TRUE(s.audio.has_value());
    EXPECT_EQ(s.audio->sampleRate, 48000);
    EXPECT_EQ(s.audio->channels, 1);
    EXPECT_EQ(s.audio->bitRate, 128000);
    EXPECT_FALSE(jobs::camera::cameraMovieSettings("a.mov", 240, false).audio.has_value());
}

} // namespace
