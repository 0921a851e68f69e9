#include "Bridge.h"

#include "AppConnection.h"
#include "Handshake.h"
#include "Messages.h"
#include "Texts.h"

#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace quorvane::bridge {

Bridge::Bridge(Settings settings, int inputFd, int outputFd)
    : settings_(std::move(settings)), inputFd_(inputFd), outputFd_(outputFd) {}

void Bridge::run() {
    LineBuffer input;
    while (input.readFrom(inputFd_)) {
        while (auto line = input.next())
            handleClientLine(*line);
    }
    // Outstanding requests are not waited for: the client has gone.
    ::_exit(0);
}

void Bridge::handleClientLine(const Line& line) {
    const Classification message = classifier_.classify(line.text, line.readable);
    const bool request = message.isRequest();

    std::unique_lock state(stateLock_);
    bool repeatHandshake = true;
    if (message.method == "initialize") {
        handshake_ = handshakeMembers(line.text);
        handshakeDone_.reset();
        repeatHandshake = false;
    }

    // A request is recorded before it is written, so that its reply (which
    // may come at once) always finds its entry; a request that is not
    // delivered in the end gets back what was there before.
    std::optional<Outstanding> displaced;
    bool recorded = false;
    bool delivered = false;
    for (int attempt = 0; attempt < 2 && !delivered; ++attempt) {
        if (!ensureConnected(repeatHandshake)) break;
        if (request) {
            std::lock_guard table(unansweredLock_);
            auto [entry, inserted] = unanswered_.try_emplace(message.idText);
            if (!recorded && !inserted) displaced = entry->second;
            entry->second = Outstanding{message.idJson, appConnection_};
            recorded = true;
        }
        if (writeAll(appFd_, line.withFeed)) {
            delivered = true;
        } else {
            // The descriptor stays with its reader, which closes it at the end
            // of its stream.
            appFd_ = -1;
        }
    }

    if (delivered) {
        if (message.method == "notifications/initialized")
            handshakeDone_ = std::string(line.withFeed);
        return;
    }
    if (recorded) {
        std::lock_guard table(unansweredLock_);
        if (displaced)
            unanswered_[message.idText] = *displaced;
        else
            unanswered_.erase(message.idText);
    }
    state.unlock();
    if (request) emitError(message.idJson, notRunning);
}

bool Bridge::ensureConnected(bool repeatHandshake) {
    if (appFd_ >= 0) return true;
    auto fd = connectToApp(settings_);
    if (!fd) return false;
    const std::int64_t connection = connections_ + 1;
    if (!listen(*fd, connection)) {
        ::close(*fd);
        return false;
    }
    appFd_ = *fd;
    connections_ = connection;
    appConnection_ = connection;
    if (repeatHandshake && connections_ >= 2 && handshake_) {
        writeAll(appFd_, replayedInitialize(*handshake_, connections_));
        if (handshakeDone_) writeAll(appFd_, *handshakeDone_);
        emit(toolListNotice);
    }
    return true;
}

bool Bridge::listen(int fd, std::int64_t connection) {
    try {
        std::thread([this, fd, connection] { readConnection(fd, connection); }).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void Bridge::readConnection(int fd, std::int64_t connection) {
    LineBuffer buffer;
    Classifier classifier;
    while (buffer.readFrom(fd)) {
        // Forwarded lines that lie next to each other in the buffer go out in
        // one write: each is still whole, and small replies cost one system
        // call per read instead of one per line.
        std::string_view run;
        while (auto line = buffer.next()) {
            const Classification message = classifier.classify(line->text, line->readable);
            if (message.object && message.hasId) {
                // The host application's reply to a replayed initialize.
                if (message.idHasPrefix(ownIdPrefix)) continue;
                if (!message.hasMethodMember) {
                    std::lock_guard table(unansweredLock_);
                    unanswered_.erase(message.idText);
                }
            }
            if (!run.empty() && run.data() + run.size() == line->withFeed.data()) {
                run = std::string_view(run.data(), run.size() + line->withFeed.size());
            } else {
                if (!run.empty()) emit(run);
                run = line->withFeed;
            }
        }
        if (!run.empty()) emit(run);
    }

    // Every request written to this connection and still unanswered gets its
    // error reply here, whether or not the connection is still the current
    // one: one given up after a failed write ends as well.
    std::vector<std::string> orphans;
    {
        std::lock_guard state(stateLock_);
        if (appConnection_ == connection && appFd_ == fd) appFd_ = -1;
        std::lock_guard table(unansweredLock_);
        for (auto entry = unanswered_.begin(); entry != unanswered_.end();) {
            if (entry->second.connection == connection) {
                orphans.push_back(std::move(entry->second.idJson));
                entry = unanswered_.erase(entry);
            } else {
                ++entry;
            }
        }
    }
    ::close(fd);
    for (const auto& idJson : orphans)
        emitError(idJson, closedBeforeAnswer);
}

void Bridge::emit(std::string_view bytesWithFeed) {
    std::lock_guard output(outputLock_);
    writeAll(outputFd_, bytesWithFeed);
}

void Bridge::emitError(std::string_view idJson, std::string_view message) {
    if (auto reply = errorReply(idJson, message)) emit(*reply);
}

} // namespace quorvane::bridge
