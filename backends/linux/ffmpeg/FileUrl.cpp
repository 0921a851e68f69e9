#include "ffmpeg/FileUrl.h"

extern "C" {
#include <libavutil/dict.h>
}

#include <cerrno>
#include <climits>
#include <string>
#include <unistd.h>
#include <vector>

namespace quorvane::backends::ffmpeg {
namespace {

std::string currentDirectory() {
    std::vector<char> buffer(PATH_MAX);
    while (!::getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE) return "."; // unreachable folder: FFmpeg then reports the open
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

} // namespace

std::string fileUrl(const std::string& path) {
    if (path.starts_with('/')) return "file:" + path;
    std::string folder = currentDirectory();
    if (!folder.ends_with('/')) folder += '/';
    return "file:" + folder + path;
}

void onlyFileProtocol(AVDictionary** options) {
    av_dict_set(options, "protocol_whitelist", "file", 0);
}

} // namespace quorvane::backends::ffmpeg
