#include "jobs/record_window/MovieTarget.h"

#include "text/Utf8.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane::jobs::record_window {

std::optional<std::string> movieTargetProblem(const std::string& out) {
    auto problem = [&](int error) {
        return "Quorvane cannot write the movie " + text::validUtf8(out) + ": " +
               std::strerror(error);
    };
    // A folder as --out is refused at the job's start (not a file).
    struct stat st {};
    std::string folder = std::filesystem::path(out).parent_path().string();
    if (folder.empty()) folder = ".";
    if (::stat(folder.c_str(), &st) != 0) return problem(errno);
    if (!S_ISDIR(st.st_mode)) return problem(ENOTDIR);
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return problem(errno);
    return std::nullopt;
}

} // namespace quorvane::jobs::record_window
