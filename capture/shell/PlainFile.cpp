#include "shell/PlainFile.h"

#include "io/UniqueFd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace quorvane::shell {
namespace {

// What `path` names, or nothing when it cannot be looked at.
std::optional<struct stat> lookAt(const std::string& path) {
    if (path.empty()) return std::nullopt;
    io::UniqueFd fd(::open(path.c_str(), O_PATH | O_CLOEXEC));
    struct stat info {};
    if (!fd || ::fstat(fd.get(), &info) != 0) return std::nullopt;
    return info;
}

bool isNullDevice(const struct stat& info) {
    return S_ISCHR(info.st_mode) && info.st_rdev == makedev(1, 3);
}

bool isStandardStream(const struct stat& info) {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        struct stat stream {};
        if (::fstat(fd, &stream) == 0 && stream.st_dev == info.st_dev &&
            stream.st_ino == info.st_ino)
            return true;
    }
    return false;
}

} // namespace

std::optional<std::string> whyNotReadable(const std::string& path) {
    const auto info = lookAt(path);
    if (!info || S_ISREG(info->st_mode)) return std::nullopt;
    return notAFile;
}

std::optional<std::string> whyNotWritable(const std::string& path) {
    const auto info = lookAt(path);
    if (!info || isNullDevice(*info)) return std::nullopt;
    if (!S_ISREG(info->st_mode)) return notAFile;
    if (isStandardStream(*info)) return "Quorvane uses that file for its own input or output.";
    return std::nullopt;
}

bool isPlainFile(const std::string& path) {
    const auto info = lookAt(path);
    return info && S_ISREG(info->st_mode);
}

} // namespace quorvane::shell
