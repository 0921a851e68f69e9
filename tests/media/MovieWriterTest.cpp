#include "platform/MovieWriter.h"
#include "Probe.h"

#include "ffmpeg/FileUrl.h"
#include "ffmpeg/Handles.h"

#include "support/TempDir.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace quorvane::platform;
namespace fs = std::filesystem;

namespace {

struct Picture {
    int width, height;
    std::vector<std::uint8_t> bgra;
    Picture(int w, int h, std::uint8_t shade)
        : width(w), height(h), bgra(std::size_t(w) * h * 4, shade) {}
    VideoFrame frame() const {
        VideoFrame f;
        f.format = PixelFormat::BGRA;
        f.width = width;
        f.height = height;
        f.data[0] = bgra.data();
        f.stride[0] = width * 4;
        return f;
    }
};

class MovieWriterTest : public ::testing::Test {
  protected:
    quorvane::testing::TempDir temp{"quorvane-movie"};
    const fs::path dir = temp.path;
    MovieSettings settings(const std::string& name, int w, int h) {
        MovieSettings s;
        s.path = (dir / name).string();
        s.video.width = w;
        s.video.height = h;
        s.video.preset = "ultrafast";
        return s;
    }
};

} // namespace

TEST_F(MovieWriterTest, VariableRateMovieLastsUntilTheStop) {
    auto s = settings("vfr.mov", 320, 240);
    auto writer = openMovieWriter(s);
    Picture a(320, 240, 0x20), b(160, 120, 0xC0); // the second is scaled to the movie's size
    writer->writeVideo(a.frame(), 0.0);
    writer->writeVideo(b.frame(), 0.1);
    writer->writeVideo(a.frame(), 0.1); // not later than the previous one: dropped
    writer->writeVideo(a.frame(), 0.5);
    writer->finish(3.0); // the window stood still from 0.5 s until the stop
    // The still picture is shown once more just before the stop, so that
    // seeking near the end finds it.
    EXPECT_EQ(writer->framesWritten(), 4);

    const auto p = quorvane::testing::probe(s.path, true);
    ASSERT_TRUE(p.readable);
    EXPECT_NE(p.format.at("format_name").find("mov"), std::string::npos);
    EXPECT_NEAR(p.duration(), 3.0, 0.02);
    const auto* v = p.stream("video");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->at("codec_name"), "h264");
    EXPECT_EQ(v->at("width"), "320");
    EXPECT_EQ(v->at("height"), "240");
    EXPECT_EQ(v->at("pix_fmt"), "yuv420p");
    EXPECT_EQ(v->at("color_space"), "bt709");
    EXPECT_EQ(v->at("nb_read_frames"), "4");
}

TEST_F(MovieWriterTest, StillPictureKeepsMakingFragmentsWhenRefreshed) {
    auto s = settings("still.mov", 320, 240);
    s.video.keyFrameSeconds = 0.75;
    {
        auto writer = openMovieWriter(s);
        Picture pic(320, 240, 0x80);
        writer->writeVideo(pic.frame(), 0.0);
        // Told the time twenty times a second; key frames only when due,
        // each with the picture just before, all copies of the first key
        // frame rather than the picture encoded anew.
        for (int i = 1; i <= 60; ++i)
            writer->refresh(i / 20.0);
        EXPECT_EQ(writer->framesWritten(), 9);
        // No finish(): as if the process had been killed at 3 s.
    }
    const auto p = quorvane::testing::probe(s.path);
    ASSERT_TRUE(p.readable);
    // On disk up to the last key frame (3.0 s), not just the first picture.
    EXPECT_NEAR(p.duration(), 3.0, 0.05);
}

TEST_F(MovieWriterTest, SoundAndPictureTogether) {
    auto s = settings("av.mov", 240, 240);
    s.audio = AudioSettings{};
    auto writer = openMovieWriter(s);
    Picture pic(240, 240, 0x80);
    std::vector<std::int16_t> tone(1600); // 1/30 s at 48 kHz
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = static_cast<std::int16_t>(8000 * std::sin(i * 2 * M_PI * 440 / 48000));
    for (int i = 0; i < 60; ++i) {
        writer->writeVideo(pic.frame(), i / 30.0);
        writer->writeAudio(tone.data(), 1600, i / 30.0);
    }
    writer->finish(2.0);
    const auto p = quorvane::testing::probe(s.path);
    ASSERT_TRUE(p.readable);
    const auto* a = p.stream("audio");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->at("codec_name"), "aac");
    EXPECT_EQ(a->at("sample_rate"), "48000");
    EXPECT_EQ(a->at("channels"), "1");
    EXPECT_NEAR(p.duration(), 2.0, 0.05);
}

// The movie's sound decoded from its first packet on, sample after sample,
// as a player that plays it back to back hears it.
std::vector<std::int16_t> soundBackToBack(const std::string& movie) {
    const std::string command =
        "ffmpeg -v error -i '" + movie + "' -map 0:a:0 -ac 1 -ar 48000 -f s16le - 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::vector<std::int16_t> samples;
    std::int16_t buffer[4096];
    for (std::size_t n; pipe && (n = std::fread(buffer, 2, 4096, pipe.get())) > 0;)
        samples.insert(samples.end(), buffer, buffer + n);
    return samples;
}

TEST_F(MovieWriterTest, SoundThatStartsAfterThePictureIsHeardAtItsOwnTime) {
    // The first sound arrives a quarter of a second after the first picture
    // (or is a little early, before it), loud from its first sample on.
    for (double start : {0.25, 0.01, -0.02}) {
        SCOPED_TRACE(start);
        auto s = settings("late.mov", 240, 240);
        s.audio = AudioSettings{};
        auto writer = openMovieWriter(s);
        Picture pic(240, 240, 0x80);
        std::vector<std::int16_t> tone(480); // 10 ms at 48 kHz
        for (std::size_t i = 0; i < tone.size(); ++i)
            tone[i] = static_cast<std::int16_t>(12000 * std::sin(i * 2 * M_PI * 1000 / 48000));
        int piece = 0;
        for (int i = 0; i < 60; ++i) {
            writer->writeVideo(pic.frame(), i / 30.0);
            for (; start + piece * 0.01 < (i + 1) / 30.0; ++piece)
                writer->writeAudio(tone.data(), 480, start + piece * 0.01);
        }
        writer->finish(2.0);
        const auto sound = soundBackToBack(s.path);
        ASSERT_GT(sound.size(), 48000u);
        std::size_t onset = 0;
        while (onset < sound.size() && std::abs(int{sound[onset]}) < 2000)
            ++onset;
        // The AAC encoder's priming (1024 samples, 21 ms) is heard first,
        // as silence: sound from earlier than that cannot be placed.
        const double expected = std::max(start * 48000, 1024.0);
        EXPECT_NEAR(static_cast<double>(onset), expected, 48 * 3) << "samples";
        // And it lasts to the end of the picture.
        EXPECT_NEAR(sound.size() / 48000.0, 2.0, 0.05);
    }
}

TEST_F(MovieWriterTest, AbandonedMovieStaysPlayable) {
    auto s = settings("killed.mov", 320, 240);
    {
        auto writer = openMovieWriter(s);
        Picture pic(320, 240, 0);
        for (int i = 0; i < 90; ++i) {
            pic.bgra[std::size_t(i) * 4] = 0xFF; // some change per frame
            writer->writeVideo(pic.frame(), i / 30.0);
        }
        // No finish(): as if the process had been killed.
    }
    const auto p = quorvane::testing::probe(s.path);
    ASSERT_TRUE(p.readable);
    EXPECT_GE(p.duration(), 1.9);
}

TEST_F(MovieWriterTest, RefusesWhatItCannotWrite) {
    auto s = settings("x.mov", 320, 240);
    s.path = (dir / "missing" / "x.mov").string();
    try {
        openMovieWriter(s);
        FAIL() << "opened a movie in a missing folder";
    } catch (const MovieError& e) {
        EXPECT_STREQ(e.what(), "No such file or directory");
    }
    EXPECT_THROW(openMovieWriter(settings("odd.mov", 321, 240)), MovieError);

    // A full disk is reported, whether at the header or at a later packet.
    s.path = "/dev/full";
    try {
        auto writer = openMovieWriter(s);
        Picture pic(320, 240, 0);
        for (int i = 0; i < 60; ++i)
            writer->writeVideo(pic.frame(), i / 30.0);
        writer->finish(2.0);
        FAIL() << "wrote a movie to a full disk";
    } catch (const MovieError& e) {
        EXPECT_STREQ(e.what(), "No space left on device");
    }
    EXPECT_THROW(openMovieWriter(settings("zero.mov", 0, 0)), MovieError);
}

TEST(FileUrl, AbsoluteFileUrlsWithoutTouchingTheDisk) {
    const std::string cwd = fs::current_path().string();
    const std::pair<std::string, std::string> cases[] = {
        {"/tmp/a b/take:1.mov", "file:/tmp/a b/take:1.mov"},
        {"take:1.mov", "file:" + cwd + "/take:1.mov"},
        {"pipe:1", "file:" + cwd + "/pipe:1"},
        {"http://127.0.0.1:1/x", "file:" + cwd + "/http://127.0.0.1:1/x"},
        {"../up/./x.mov", "file:" + cwd + "/../up/./x.mov"}, // kept as given
        {"file:x.mov", "file:" + cwd + "/file:x.mov"},
    };
    for (const auto& [path, url] : cases)
        EXPECT_EQ(quorvane::backends::ffmpeg::fileUrl(path), url) << path;
}

TEST_F(MovieWriterTest, NamesThatLookLikeUrlsAreFilesInTheCurrentFolder) {
    const auto previous = fs::current_path();
    fs::current_path(dir);
    for (const std::string name : {"take:1.mov", "pipe:1", "concat:a.mov|b.mov", "file:c.mov",
                                   "crypto:d.mov", "tee:e.mov"}) {
        MovieSettings s = settings(name, 64, 48);
        s.path = name; // relative, as the user typed it
        auto writer = openMovieWriter(s);
        Picture pic(64, 48, 0x80);
        writer->writeVideo(pic.frame(), 0.0);
        writer->finish(0.5);
        writer.reset();
        EXPECT_TRUE(fs::is_regular_file(dir / name)) << name;
        // ffprobe too reads names as URLs.
        const auto facts = quorvane::testing::probe("file:" + (dir / name).string());
        const auto* video = facts.stream("video");
        ASSERT_NE(video, nullptr) << name;
        EXPECT_EQ(video->at("codec_name"), "h264") << name;
    }
    fs::current_path(previous);
}

// FFmpeg's own codes are told in the product's words; the system's errors
// keep their description, which tells the user what to do.
TEST(ErrorText, SpeaksToUsersNotToDevelopers) {
    using quorvane::backends::ffmpeg::errorText;
    for (int code : {AVERROR_PATCHWELCOME, AVERROR_INVALIDDATA, AVERROR_DECODER_NOT_FOUND,
                     AVERROR_BUG, AVERROR_EXPERIMENTAL, AVERROR_EOF, AVERROR_UNKNOWN,
                     AVERROR_ENCODER_NOT_FOUND, AVERROR_EXTERNAL}) {
        const std::string text = errorText(code);
        SCOPED_TRACE(text);
        EXPECT_EQ(text.find("FFmpeg"), std::string::npos);
        EXPECT_EQ(text.find("patches"), std::string::npos);
        EXPECT_EQ(text.find("processing input"), std::string::npos);
        ASSERT_FALSE(text.empty());
        EXPECT_NE(text.back(), '.');
    }
    EXPECT_EQ(errorText(AVERROR(ENOSPC)), "No space left on device");
    EXPECT_EQ(errorText(AVERROR(EACCES)), "Permission denied");
}
