#include "EngineSupport.h"

#include "json/Writer.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>

namespace quorvane::testing {

bool CaughtOutput::print(const json::Object& object) {
    std::lock_guard l(lock_);
    printed_.push_back(object);
    changed_.notify_all();
    return !refusing;
}

void CaughtOutput::end(const json::Object& object, int status) {
    std::lock_guard l(lock_);
    endings_.push_back({object, status});
    changed_.notify_all();
}

Ending CaughtOutput::waitForEnding() {
    std::unique_lock l(lock_);
    if (!changed_.wait_for(l, std::chrono::minutes(2), [&] { return !endings_.empty(); })) {
        ADD_FAILURE() << "the recording never ended";
        return {};
    }
    return endings_.front();
}

std::vector<json::Object> CaughtOutput::printed() {
    std::lock_guard l(lock_);
    return printed_;
}

std::vector<Ending> CaughtOutput::endings() {
    std::lock_guard l(lock_);
    return endings_;
}

jobs::camera::CameraRecordingServices servicesFor(SyntheticCamera& camera, CaughtOutput& output) {
    jobs::camera::CameraRecordingServices services;
    services.makeSession = [&camera](const platform::CaptureDevice&) {
        return camera.makeSession();
    };
    services.openWriter = platform::openMovieWriter;
    services.hostTime = [] { return -1.0; };
    services.wallTime = [] { return testWallTime; };
    services.print = [&output](const json::Object& object) { return output.print(object); };
    services.end = [&output](const json::Object& object, int status) {
        output.end(object, status);
    };
    return services;
}

std::string text(const json::Object& object, const std::string& key) {
    auto it = object.find(key);
    if (it == object.end()) return "<absent>";
    if (const auto* s = std::get_if<std::string>(&it->second.storage())) return *s;
    return "<not text>";
}

double number(const json::Object& object, const std::string& key) {
    auto it = object.find(key);
    if (it == object.end()) return -1e300;
    if (const auto* d = std::get_if<double>(&it->second.storage())) return *d;
    if (const auto* i = std::get_if<std::int64_t>(&it->second.storage()))
        return static_cast<double>(*i);
    return -1e300;
}

bool flag(const json::Object& object, const std::string& key) {
    auto it = object.find(key);
    const auto* b = it == object.end() ? nullptr : std::get_if<bool>(&it->second.storage());
    return b && *b;
}

std::vector<std::string> keys(const json::Object& object) {
    std::vector<std::string> names;
    for (const auto& [name, value] : object)
        names.push_back(name);
    return names;
}

namespace {

struct PipeClose {
    void operator()(FILE* f) const { ::pclose(f); }
};

std::string quoted(const std::string& path) {
    std::string out = "'";
    for (char c : path)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string run(const std::string& command) {
    std::unique_ptr<FILE, PipeClose> pipe(::popen(command.c_str(), "r"));
    std::string out;
    if (!pipe) return out;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;)
        out.append(buffer, n);
    return out;
}

} // namespace

std::map<std::string, std::string> probe(const std::string& file) {
    std::map<std::string, std::string> facts;
    auto read = [&](const std::string& prefix, const std::string& selection) {
        std::istringstream lines(
            run("ffprobe -v error " + selection + " -of default=nw=1 " + quoted(file)));
        for (std::string line; std::getline(lines, line);) {
            const auto eq = line.find('=');
            if (eq != std::string::npos) facts[prefix + line.substr(0, eq)] = line.substr(eq + 1);
        }
    };
    read("video.", "-count_frames -select_streams v -show_entries "
                   "stream=codec_name,width,height,nb_read_frames");
    read("audio.", "-select_streams a -show_entries stream=codec_name,sample_rate,channels");
    read("format.", "-show_entries format=duration");
    return facts;
}

std::vector<std::uint8_t> firstPictureGrey8x8(const std::string& file) {
    const auto out = run("ffmpeg -v error -i " + quoted(file) +
                         " -frames:v 1 -vf scale=8:8:flags=area -f rawvideo -pix_fmt gray -");
    return std::vector<std::uint8_t>(out.begin(), out.end());
}

std::vector<std::int16_t> soundSamples(const std::string& file) {
    const auto out =
        run("ffmpeg -v error -i " + quoted(file) + " -map 0:a:0 -ac 1 -ar 48000 -f s16le -");
    std::vector<std::int16_t> samples(out.size() / 2);
    std::memcpy(samples.data(), out.data(), samples.size() * 2);
    return samples;
}

} // namespace quorvane::testing
