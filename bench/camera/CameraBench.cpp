// The camera recording engine in real time: a synthetic camera takes
// pictures every 1/30 s (converted as the V4L2 session converts them: centred
// square, mirror, scale, BT.601 to BT.709) and the real writer encodes them.
// Prints pictures taken, written and dropped, and the CPU time per recorded
// second. The anchor, run in the same call, converts with swscale; the
// candidate with libyuv; each line ends in its ratio to the anchor.
#include "SyntheticCamera.h"
#include "jobs/camera/CameraRecording.h"
#include "v4l2/FrameConverter.h"
#include "json/Writer.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <linux/videodev2.h>
#include <mutex>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using namespace quorvane;

namespace {

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Real time: a picture every 1/30 s whatever happens. Flat out: the next
// picture as soon as fewer than two wait, which measures what the machine
// can sustain.
double threadCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// CPU milliseconds per picture of the conversion alone: a 1920 x 1080 YUYV
// capture to the mirrored square of `size`.
double convertMs(std::int64_t size, backends::v4l2::Scaler scaler) {
    constexpr int width = 1920, height = 1080, pictures = 120;
    auto converter = backends::v4l2::FrameConverter::make(
        V4L2_PIX_FMT_YUYV, width, height, width * 2, static_cast<int>(size), scaler);
    std::vector<std::uint8_t> capture(static_cast<std::size_t>(width) * height * 2);
    for (std::size_t i = 0; i < capture.size(); ++i)
        capture[i] = static_cast<std::uint8_t>(i % 2 ? 128 + (i / 7) % 40 : (i * 13) % 220 + 16);
    backends::v4l2::SquarePicture picture;
    converter->convert(capture.data(), capture.size(), true, picture); // warm up
    const double before = threadCpuSeconds();
    for (int i = 0; i < pictures; ++i)
        converter->convert(capture.data(), capture.size(), true, picture);
    return 1000 * (threadCpuSeconds() - before) / pictures;
}

// One recording; returns its CPU share of one core (real time) or its CPU
// milliseconds per written picture (flat out).
double runOnce(std::int64_t size, double seconds, const std::string& dir, bool flatOut,
               bool swscale) {
    testing::SyntheticCamera camera;
    camera.swscale = swscale;
    camera.discardLate = true;
    camera.noisy = true;
    std::mutex lock;
    std::condition_variable ended;
    std::optional<json::Object> ending;
    std::atomic<std::int64_t> written{0};

    jobs::camera::CameraRecordingServices services;
    services.makeSession = [&camera](const platform::CaptureDevice&) {
        return camera.makeSession();
    };
    std::atomic<double> writerCpu{0};
    services.openWriter = [&written, &writerCpu](const platform::MovieSettings& settings) {
        struct Counting final : platform::MovieWriter {
            Counting(std::unique_ptr<platform::MovieWriter> r, std::atomic<std::int64_t>& w,
                     std::atomic<double>& c)
                : real(std::move(r)), written(w), writerCpu(c) {}
            void writeVideo(const platform::VideoFrame& f, double t) override {
                const double before = threadCpuSeconds();
                real->writeVideo(f, t);
                writerCpu += threadCpuSeconds() - before;
                written = real->framesWritten();
            }
            void writeAudio(const std::int16_t* s, int n, double t) override {
                real->writeAudio(s, n, t);
            }
            void finish(double e) override { real->finish(e); }
            std::int64_t framesWritten() const override { return real->framesWritten(); }
            std::unique_ptr<platform::MovieWriter> real;
            std::atomic<std::int64_t>& written;
            std::atomic<double>& writerCpu;
        };
        return std::unique_ptr<platform::MovieWriter>(
            std::make_unique<Counting>(platform::openMovieWriter(settings), written, writerCpu));
    };
    services.hostTime = platform::hostTimeNow;
    services.wallTime = [] { return 0.0; };
    services.print = [](const json::Object&) { return true; };
    services.end = [&](const json::Object& object, int) {
        std::lock_guard l(lock);
        ending = object;
        ended.notify_all();
    };

    const std::string file = dir + "/bench-" + std::to_string(size) + ".mov";
    jobs::camera::CameraRecording recording(file, size, {"bench", "Synthetic Camera", "none"},
                                            std::nullopt, services);
    recording.start();
    camera.waitUntilRunning();

    const double cpuBefore = cpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const int pictures = static_cast<int>(seconds * 30);
    for (int i = 0; i < pictures; ++i) {
        if (flatOut) {
            while (camera.outstanding() >= 2)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            camera.frame(i / 30.0);
            continue;
        }
        std::this_thread::sleep_until(
            start + std::chrono::microseconds(static_cast<std::int64_t>(i * 1e6 / 30)));
        const double now = platform::hostTimeNow();
        camera.clock = now;
        camera.frame(now);
    }
    recording.stop();
    {
        std::unique_lock l(lock);
        ended.wait(l, [&] { return ending.has_value(); });
    }
    const double cpu = cpuSeconds() - cpuBefore;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const char* name = swscale ? "swscale (anchor)" : "libyuv";
    if (flatOut) {
        std::printf("%s %lld x %lld flat out: %lld pictures written in %.1f s: %.1f pictures per "
                    "second, CPU %.1f ms "
                    "per picture\n",
                    name, static_cast<long long>(size), static_cast<long long>(size),
                    static_cast<long long>(written.load()), wall,
                    static_cast<double>(written.load()) / wall,
                    1000 * cpu / static_cast<double>(written.load()));
        return 1000 * cpu / static_cast<double>(std::max<std::int64_t>(1, written.load()));
    }
    std::printf(
        "%s %lld x %lld, capture %d x %d, %.0f s at 30 fps: taken %d, delivered %lld, written "
        "%lld, "
        "dropped %lld; CPU %.2f s per recorded second (%.0f%% of one core), wall %.1f s, file %.1f "
        "MB\n",
        name, static_cast<long long>(size), static_cast<long long>(size), camera.captureWidth,
        camera.captureHeight, seconds, pictures, static_cast<long long>(camera.delivered.load()),
        static_cast<long long>(written.load()), static_cast<long long>(camera.dropped.load()),
        cpu / seconds, 100 * cpu / seconds, wall,
        static_cast<double>(std::filesystem::file_size(file)) / 1e6);
    // On a busy machine pictures are dropped for want of a turn on the CPU;
    // the cost of each written picture says what 30 fps needs when idle.
    if (written > 0)
        std::printf("  CPU per written picture %.1f ms (writer's call %.1f ms): %.0f%% of one core "
                    "at 30 fps\n",
                    1000 * cpu / static_cast<double>(written.load()),
                    1000 * writerCpu.load() / static_cast<double>(written.load()),
                    100 * 30 * cpu / static_cast<double>(written.load()));
    std::printf("  final line: %s\n", json::serialize(*ending).c_str());
    return cpu / seconds;
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20;
    char pattern[] = "/tmp/quorvane-camera-bench-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    using backends::v4l2::Scaler;
    for (std::int64_t size : {1440, 720}) {
        const double anchor = convertMs(size, Scaler::swscale);
        const double fast = convertMs(size, Scaler::fastest);
        std::printf("convert 1920 x 1080 YUYV to %lld mirrored: swscale (anchor) %.2f ms, libyuv "
                    "%.2f ms per picture; ratio %.2f\n",
                    static_cast<long long>(size), anchor, fast, fast / anchor);
    }
    for (std::int64_t size : {1440, 720}) {
        const double anchor = runOnce(size, seconds, pattern, false, true);
        const double fast = runOnce(size, seconds, pattern, false, false);
        std::printf("=> %lld x %lld real time: CPU ratio libyuv / anchor %.2f\n",
                    static_cast<long long>(size), static_cast<long long>(size), fast / anchor);
    }
    const double anchor = runOnce(1440, 10, pattern, true, true);
    const double fast = runOnce(1440, 10, pattern, true, false);
    std::printf("=> 1440 x 1440 flat out: CPU per picture ratio libyuv / anchor %.2f\n",
                fast / anchor);
    std::error_code ignored;
    std::filesystem::remove_all(pattern, ignored);
    return 0;
}
