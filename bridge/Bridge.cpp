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
    while (input.readFrom(inputFd_))
        handleClientLines(input);
    // Outstanding requests are not waited for: the client has gone.
    ::_exit(0);
}

// The lines of one read. While the connection stands, lines that lie next to
// each other in the buffer are written to it together; each keeps the
// outcome it would have had written alone: what was written whole is
// delivered, the rest goes the usual way (reconnect, second attempt, error).
void Bridge::handleClientLines(LineBuffer& input) {
    std::unique_lock state(stateLock_);
    while (auto line = input.next()) {
        if (line->tooLong) {
            writeRun(state);
            refuseTooLong(*line, state);
            continue;
        }
        Pending pending{*line, classify(line->text), false, {}};
        const bool initialize = pending.message.method == "initialize";
        if (initialize || appFd_ < 0) {
            writeRun(state);
            if (initialize) {
                handshake_ = handshakeMembers(line->text);
                handshakeDone_.reset();
            }
            deliver(pending, 2, !initialize, state);
            continue;
        }
        if (!run_.empty()) {
            const auto& last = run_.back().line.withFeed;
            if (last.data() + last.size() != line->withFeed.data()) writeRun(state);
        }
        // Recorded before it is written, so that its reply always finds it.
        record(pending);
        run_.push_back(std::move(pending));
    }
    writeRun(state);
}

// A client line over the limit is never sent on. Once it has passed, a
// request among such lines gets its error reply, so that it is still answered.
void Bridge::refuseTooLong(const Line& part, std::unique_lock<std::mutex>& state) {
    tooLong_.feed(part.text);
    if (!part.last) return;
    const Classification message = tooLong_.finish();
    if (!message.isRequest()) return;
    state.unlock();
    emitError(message.idJson(), tooLarge);
    state.lock();
}

void Bridge::writeRun(std::unique_lock<std::mutex>& state) {
    if (run_.empty()) return;
    const char* start = run_.front().line.withFeed.data();
    const auto& last = run_.back().line.withFeed;
    const std::size_t size = static_cast<std::size_t>(last.data() + last.size() - start);
    const std::size_t written = writeWhatCan(appFd_, std::string_view(start, size));

    std::size_t next = 0;
    for (std::size_t offset = 0; next < run_.size(); ++next) {
        offset += run_[next].line.withFeed.size();
        if (offset > written) break;
        settle(run_[next], true, state);
    }
    if (next < run_.size()) {
        // The descriptor stays with its reader, which closes it at the end of
        // its stream.
        appFd_ = -1;
        // Unrecorded first, so that no reader answers a line that is still to
        // be delivered while the lock is let go for an error reply.
        for (std::size_t i = run_.size(); i-- > next;)
            forget(run_[i]);
        // The line cut short has had its first attempt; the others none.
        deliver(run_[next], 1, true, state);
        for (std::size_t i = next + 1; i < run_.size(); ++i)
            deliver(run_[i], 2, true, state);
    }
    run_.clear();
}

void Bridge::deliver(Pending& line, int attempts, bool repeatHandshake,
                     std::unique_lock<std::mutex>& state) {
    bool delivered = false;
    for (int attempt = 0; attempt < attempts && !delivered; ++attempt) {
        if (!ensureConnected(repeatHandshake)) break;
        record(line);
        if (writeAll(appFd_, line.line.withFeed))
            delivered = true;
        else
            appFd_ = -1;
    }
    settle(line, delivered, state);
}

void Bridge::record(Pending& line) {
    if (!line.message.isRequest()) return;
    std::lock_guard table(unansweredLock_);
    auto [entry, inserted] = unanswered_.try_emplace(line.message.idKey);
    if (!line.recorded && !inserted) line.displaced = entry->second;
    entry->second = Outstanding{line.message.id, appConnection_};
    line.recorded = true;
}

void Bridge::forget(Pending& line) {
    if (!line.recorded) return;
    std::lock_guard table(unansweredLock_);
    if (line.displaced)
        unanswered_[line.message.idKey] = *line.displaced;
    else
        unanswered_.erase(line.message.idKey);
    line.recorded = false;
    line.displaced.reset();
}

void Bridge::settle(Pending& line, bool delivered, std::unique_lock<std::mutex>& state) {
    // The host rightly never answers a request the client has cancelled, so
    // it must not be answered for later either: delivered or not, the client
    // wants nothing more for it.
    if (line.message.method == "notifications/cancelled") {
        if (auto key = cancelledRequestKey(line.line.text)) {
            std::lock_guard table(unansweredLock_);
            unanswered_.erase(*key);
        }
    }
    if (delivered) {
        if (line.message.method == "notifications/initialized")
            handshakeDone_ = std::string(line.line.withFeed);
        return;
    }
    forget(line);
    if (!line.message.isRequest()) return;
    // stateLock is never held while an error reply is written.
    state.unlock();
    emitError(line.message.idJson(), notRunning);
    state.lock();
}

bool Bridge::ensureConnected(bool repeatHandshake) {
    if (appFd_ >= 0) return true;
    const Reached reached = connectToApp(settings_, inputFd_);
    // The client has gone while the bridge waited: lines not yet delivered
    // have nobody left to answer them.
    if (reached.inputEnded) ::_exit(0);
    const std::optional<int> fd = reached.fd;
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
    StreamClassifier tooLong;
    while (buffer.readFrom(fd)) {
        // Forwarded lines that lie next to each other in the buffer go out in
        // one write: each is still whole, and small replies cost one system
        // call per read instead of one per line.
        std::string_view run;
        while (auto line = buffer.next()) {
            if (line->tooLong) {
                if (!run.empty()) emit(run);
                run = {};
                tooLong.feed(line->text);
                if (line->last) dropTooLong(tooLong.finish());
                continue;
            }
            const Classification message = classify(line->text);
            if (message.object && message.hasId) {
                // The host application's reply to a replayed initialize.
                if (message.idHasPrefix(ownIdPrefix)) continue;
                if (!message.hasMethodMember) {
                    std::lock_guard table(unansweredLock_);
                    unanswered_.erase(message.idKey);
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
                orphans.push_back(entry->second.id.json(entry->first));
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

// A host line over the limit is dropped. When it is the reply to a request
// that is still open, that request gets the error reply in its place.
void Bridge::dropTooLong(const Classification& message) {
    if (!message.object || !message.hasId || message.hasMethodMember) return;
    if (message.idHasPrefix(ownIdPrefix)) return;
    std::optional<std::string> idJson;
    {
        std::lock_guard table(unansweredLock_);
        if (auto entry = unanswered_.find(message.idKey); entry != unanswered_.end()) {
            idJson = entry->second.id.json(entry->first);
            unanswered_.erase(entry);
        }
    }
    if (idJson) emitError(*idJson, tooLarge);
}

void Bridge::emit(std::string_view bytesWithFeed) {
    std::lock_guard output(outputLock_);
    writeAll(outputFd_, bytesWithFeed);
}

void Bridge::emitError(std::string_view idJson, std::string_view message) {
    if (auto reply = errorReply(idJson, message)) emit(*reply);
}

} // namespace quorvane::bridge
