// Measures the faces job's video path: detection per 1280×720 picture at
// each enlargement tried for video frames, and one pass over a video sampled
// every `every` seconds with the forward-walking reader against a reader that
// seeks for every sample (same detector, one thread).
#include "ffmpeg/VideoFrames.h"
#include "platform/FaceDetector.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <time.h>

using namespace quorvane;
using namespace quorvane::platform;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Processor time of the calling thread: steadier than wall time on a busy machine.
double threadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Pass {
    double wall = 0;
    double detecting = 0;
    long samples = 0;
    long withFaces = 0;
};

Pass pass(const std::string& path, double every, backends::ffmpeg::FrameSeeking seeking,
          FaceDetector& detector) {
    Pass p;
    const auto start = Clock::now();
    const auto video = backends::ffmpeg::openVideoFile(path, seeking);
    const double length = video->duration();
    for (long i = 0; i < 2400; ++i) {
        const double t = every * static_cast<double>(i);
        if (!(t < length)) break;
        const auto picture = video->pictureAt(t, 4096, 4096);
        if (!picture) continue;
        const auto detectStart = Clock::now();
        if (!detector.detect(*picture, 1).empty()) ++p.withFaces;
        p.detecting += seconds(detectStart);
        ++p.samples;
    }
    p.wall = seconds(start);
    return p;
}

void print(const char* name, const Pass& p) {
    std::printf("%-22s wall %7.1f s  samples %5ld  %6.2f samples/s  detecting %6.1f s  reading "
                "%6.1f s  faces in %ld\n",
                name, p.wall, p.samples, p.samples / p.wall, p.detecting, p.wall - p.detecting,
                p.withFaces);
}

// Processor time per picture at each enlargement tried for video frames.
void detectionTimes(const std::string& path, FaceDetector& detector) {
    const auto video =
        backends::ffmpeg::openVideoFile(path, backends::ffmpeg::FrameSeeking::forwardWalk);
    const auto picture = video->pictureAt(1.0, 4096, 4096);
    if (!picture) return;
    const int rounds = 10;
    double anchor = 0;
    for (const double enlargement : {1.0, 1.25, 1.5, 2.0}) {
        detector.detect(*picture, enlargement);
        const double cpuStart = threadCpuSeconds();
        for (int i = 0; i < rounds; ++i)
            detector.detect(*picture, enlargement);
        const double cpu = (threadCpuSeconds() - cpuStart) / rounds;
        if (enlargement == 1) anchor = cpu;
        std::printf("detection on %dx%d looked at %.2fx: %.1f ms of processor time per picture "
                    "(%.2fx the 1x time)\n",
                    picture->width, picture->height, enlargement, cpu * 1000, cpu / anchor);
    }
}

// Share of the samples in which a face is found, at each enlargement: for a
// video that shows one face in every picture.
void recall(const std::string& path, double every, FaceDetector& detector) {
    for (const double enlargement : {1.0, 1.1, 1.2, 1.25, 1.5, 2.0}) {
        const auto video =
            backends::ffmpeg::openVideoFile(path, backends::ffmpeg::FrameSeeking::forwardWalk);
        long samples = 0, found = 0;
        double cpu = 0;
        for (long i = 0; i < 2400; ++i) {
            const double t = every * static_cast<double>(i);
            if (!(t < video->duration())) break;
            const auto picture = video->pictureAt(t, 4096, 4096);
            if (!picture) continue;
            const double cpuStart = threadCpuSeconds();
            if (!detector.detect(*picture, enlargement).empty()) ++found;
            cpu += threadCpuSeconds() - cpuStart;
            ++samples;
        }
        std::printf("looked at %.2fx: face found in %ld of %ld samples (%.0f%%), %.1f ms of "
                    "processor time per sample\n",
                    enlargement, found, samples, 100.0 * found / std::max(samples, 1L),
                    cpu / std::max(samples, 1L) * 1000);
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (argc < 3 || (mode != "detect" && mode != "recall" && mode != "readers")) {
        std::fprintf(stderr, "usage: faces-bench detect <720p video>\n"
                             "       faces-bench recall <video with one face> [every=0.5]\n"
                             "       faces-bench readers <720p video> [every=0.5]\n");
        return 2;
    }
    const std::string path = argv[2];
    const double every = argc > 3 ? std::atof(argv[3]) : 0.5;

    auto created = Clock::now();
    const auto detector = std::move(makeFaceDetectors(1).front());
    std::printf("detector created in %.3f s\n", seconds(created));
    if (mode == "detect") {
        detectionTimes(path, *detector);
    } else if (mode == "recall") {
        recall(path, every, *detector);
    } else {
        const Pass walk = pass(path, every, backends::ffmpeg::FrameSeeking::forwardWalk, *detector);
        print("forward walk", walk);
        const Pass seek = pass(path, every, backends::ffmpeg::FrameSeeking::everySample, *detector);
        print("seek every sample", seek);
        std::printf("whole pass: forward walk %.2fx faster; reading alone: %.2fx faster\n",
                    seek.wall / walk.wall,
                    (seek.wall - seek.detecting) / (walk.wall - walk.detecting));
    }
    return 0;
}
