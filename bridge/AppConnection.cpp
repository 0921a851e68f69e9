#include "AppConnection.h"

#include "io/UniqueFd.h"
#include "platform/AppPlatform.h"

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace quorvane::bridge {
namespace {

constexpr int pollAttempts = 50;
constexpr useconds_t pollInterval = 300'000;

} // namespace

std::optional<int> openSocket(const std::string& path) {
    // Close-on-exec, so that a launched application never holds our end of a
    // connection open (its reader would then never see the stream end).
    io::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) return std::nullopt;
    sockaddr_un address;
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    // An empty path would name an abstract socket on Linux: only filesystem
    // paths are meant, so it is never tried either.
    if (path.empty() || path.size() > maxSocketPathBytes) return std::nullopt;
    std::memcpy(address.sun_path, path.data(), path.size());
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return std::nullopt;
    return fd.release();
}

std::optional<int> connectToApp(const Settings& settings) {
    if (auto fd = openSocket(settings.socketPath)) return fd;
    if (!settings.customSocket) launchApp();
    for (int attempt = 0; attempt < pollAttempts; ++attempt) {
        ::usleep(pollInterval);
        if (auto fd = openSocket(settings.socketPath)) return fd;
    }
    return std::nullopt;
}

} // namespace quorvane::bridge
