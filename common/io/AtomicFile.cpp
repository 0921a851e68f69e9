#include "io/AtomicFile.h"

#include "io/UniqueFd.h"
#include "io/WriteAll.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace quorvane::io {

bool writeAtomically(const std::string& path, const std::string& bytes, bool durable,
                     unsigned mode) {
    static std::atomic<unsigned> counter{0};
    const auto target = std::filesystem::path(path);
    std::string temp;
    io::UniqueFd fd;
    for (int attempt = 0; !fd && attempt < 100; ++attempt) {
        temp = target.parent_path() /
               ("." + target.filename().string() + "." + std::to_string(::getpid()) + "." +
                std::to_string(counter.fetch_add(1)) + ".tmp");
        // Less the umask, as any new file of the user gets.
        fd.reset(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                        static_cast<mode_t>(mode)));
        if (!fd && errno != EEXIST) return false;
    }
    if (!fd) return false;
    bool ok = io::writeAll(fd.get(), bytes);
    ok = ok && (!durable || ::fsync(fd.get()) == 0);
    ok = fd.close() && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

} // namespace quorvane::io
