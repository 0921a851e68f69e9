// The camera recording engine in real time: a synthetic camera takes
// pictures every 1/30 s (converted as the V4L2 session converts them: centred
// square, mirror, scale) and the real writer encodes them. Prints pictures
// taken, written and dropped, and the CPU time per recorded second.
#include "SyntheticCamera.h"
#include "jobs/camera/CameraRecording.h"
#include "json/Writer.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
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
void runOnce(std::int64_t size, double seconds, const std::string& dir, bool flatOut) {
    testing::SyntheticCamera camera;
    camera.discardLate = true;
    camera.noisy = true;
    std::mutex lock;
    std::condition_variable ended;
    std::optional<json::Object> ending;
    std::atomic<std::int64_t> written{0};

    jobs::CameraRecordingServices services;
    services.makeSession = [&camera](const platform::CaptureDevice&) {
        return camera.makeSession();
    };
    services.openWriter = [&written](const platform::MovieSettings& settings) {
        struct Counting final : platform::MovieWriter {
            Counting(std::unique_ptr<platform::MovieWriter> r, std::atomic<std::int64_t>& w)
                : real(std::move(r)), written(w) {}
            void writeVideo(const platform::VideoFrame& f, double t) override {
                real->writeVideo(f, t);
                written = real->framesWritten();
            }
            void writeAudio(const std::int16_t* s, int n, double t) override {
                real->writeAudio(s, n, t);
            }
            void finish(double e) override { real->finish(e); }
            std::int64_t framesWritten() const override { return real->framesWritten(); }
            std::unique_ptr<platform::MovieWriter> real;
            std::atomic<std::int64_t>& written;
        };
        return std::unique_ptr<platform::MovieWriter>(
            std::make_unique<Counting>(platform::openMovieWriter(settings), written));
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
    jobs::CameraRecording recording(file, size, {"bench", "Synthetic Camera", "none"}, std::nullopt,
                                    services);
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
    if (flatOut) {
        std::printf("%lld x %lld flat out: %lld pictures written in %.1f s: %.1f pictures per "
                    "second, CPU %.1f ms "
                    "per picture\n",
                    static_cast<long long>(size), static_cast<long long>(size),
                    static_cast<long long>(written.load()), wall,
                    static_cast<double>(written.load()) / wall,
                    1000 * cpu / static_cast<double>(written.load()));
        return;
    }
    std::printf(
        "%lld x %lld, capture %d x %d, %.0f s at 30 fps: taken %d, delivered %lld, written %lld, "
        "dropped %lld; CPU %.2f s per recorded second (%.0f%% of one core), wall %.1f s, file %.1f "
        "MB\n",
        static_cast<long long>(size), static_cast<long long>(size), camera.captureWidth,
        camera.captureHeight, seconds, pictures, static_cast<long long>(camera.delivered.load()),
        static_cast<long long>(written.load()), static_cast<long long>(camera.dropped.load()),
        cpu / seconds, 100 * cpu / seconds, wall,
        static_cast<double>(std::filesystem::file_size(file)) / 1e6);
    // On a busy machine pictures are dropped for want of a turn on the CPU;
    // the cost of each written picture says what 30 fps needs when idle.
    if (written > 0)
        std::printf("  CPU per written picture %.1f ms: %.0f%% of one core at 30 fps\n",
                    1000 * cpu / static_cast<double>(written.load()),
                    100 * 30 * cpu / static_cast<double>(written.load()));
    std::printf("  final line: %s\n", json::serialize(*ending).c_str());
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 20;
    char pattern[] = "/tmp/quorvane-camera-bench-XXXXXX";
    if (!::mkdtemp(pattern)) return 1;
    for (std::int64_t size : {1440, 720})
        runOnce(size, seconds, pattern, false);
    for (std::int64_t size : {1440, 720})
        runOnce(size, 10, pattern, true);
    std::error_code ignored;
    std::filesystem::remove_all(pattern, ignored);
    return 0;
}
