#include "AppConnection.h"

#include "io/UniqueFd.h"
#include "platform/AppPlatform.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace quorvane::bridge {
namespace {

constexpr int pollAttempts = 50;
constexpr int pollIntervalMs = 300;

} // namespace

std::optional<int> openSocket(const std::string& path) {
    // Close-on-exec, so that a launched application never holds our end of a
    // connection open (its reader would then never see the stream end).
    // Non-blocking while connecting: on Linux a connect to a listener whose
    // queue is full (a busy or hung application) would otherwise wait
    // forever; here it fails at once and counts as a failed attempt.
    io::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
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
    // Only a host application of the bridge's own user is told the client's
    // requests: the path may lead to a socket that someone else made (a
    // symlink, a shared temporary folder).
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof peer ||
        peer.uid != ::geteuid())
        return std::nullopt;
    // Connected: reads and writes block as usual again.
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return std::nullopt;
    return fd.release();
}

bool waitWatching(int fd, int milliseconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return true;
        // Only the hang-up is asked for: lines waiting to be read do not
        // wake the wait, and nothing is consumed.
        pollfd watched{fd, POLLRDHUP, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(left));
        if (ready > 0 && (watched.revents & (POLLHUP | POLLRDHUP | POLLERR | POLLNVAL)))
            return false;
        if (ready < 0 && errno != EINTR) {
            // No way to watch: wait plainly.
            ::usleep(static_cast<useconds_t>(left) * 1000);
            return true;
        }
    }
}

Reached connectToApp(const Settings& settings, int watchedInput) {
    if (auto fd = openSocket(settings.socketPath)) return {fd};
    if (!settings.customSocket && !launchApp(settings, watchedInput)) return {std::nullopt, true};
    for (int attempt = 0; attempt < pollAttempts; ++attempt) {
        if (!waitWatching(watchedInput, pollIntervalMs)) return {std::nullopt, true};
        if (auto fd = openSocket(settings.socketPath)) return {fd};
    }
    return {};
}

} // namespace quorvane::bridge
