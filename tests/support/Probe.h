#pragma once
// What ffprobe says of a media file, for tests that check real movies.
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quorvane::testing {

struct Probe {
    bool readable = false;
    std::map<std::string, std::string> format;               // e.g. "duration", "format_name"
    std::vector<std::map<std::string, std::string>> streams; // e.g. "codec_name", "width"

    double duration() const {
        return format.count("duration") ? std::stod(format.at("duration")) : -1;
    }
    const std::map<std::string, std::string>* stream(const std::string& type) const {
        for (const auto& s : streams)
            if (s.count("codec_type") && s.at("codec_type") == type) return &s;
        return nullptr;
    }
};

// With countFrames, each stream also has "nb_read_frames" (decodes the whole file).
inline Probe probe(const std::string& path, bool countFrames = false) {
    const std::string cmd = std::string("ffprobe -v error ") +
                            (countFrames ? "-count_frames " : "") +
                            "-show_format -show_streams -of flat=h=0 '" + path + "' 2>/dev/null";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(cmd.c_str(), "r"), pclose);
    Probe p;
    if (!pipe) return p;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe.get())) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
            s.pop_back();
        const auto eq = s.find('=');
        if (eq == std::string::npos) continue;
        std::string key = s.substr(0, eq), value = s.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
        if (key.rfind("format.", 0) == 0) {
            p.format[key.substr(7)] = value;
        } else if (key.rfind("stream.", 0) == 0) {
            const auto rest = key.substr(7);
            const auto dot = rest.find('.');
            const auto index = std::stoul(rest.substr(0, dot));
            if (p.streams.size() <= index) p.streams.resize(index + 1);
            p.streams[index][rest.substr(dot + 1)] = value;
        }
    }
    p.readable = pclose(pipe.release()) == 0 && !p.streams.empty();
    return p;
}

} // namespace quorvane::testing
