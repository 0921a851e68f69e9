#pragma once
// The relay between the client (standard input and output) and the host
// application's socket, with the handshake replay and the bridge's own error
// replies.
//
// Locks: stateLock guards the connection and handshake state and is held by
// the main thread through the whole delivery of a client line (connecting,
// launching, writing). unansweredLock guards only the table of unanswered
// requests and is never held across I/O, so a reader can always record a
// reply while the main thread is blocked writing to the host application.
// outputLock keeps each line on standard output whole.
// Order: stateLock, then unansweredLock or outputLock; never the reverse.
#include "Classify.h"
#include "Framing.h"
#include "Settings.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quorvane::bridge {

class Bridge {
  public:
    Bridge(Settings settings, int inputFd, int outputFd);
    Bridge(const Bridge&) = delete;
    Bridge& operator=(const Bridge&) = delete;

    // Relays until standard input ends, then ends the process with status 0.
    [[noreturn]] void run();

  private:
    struct Outstanding {
        IdJson id;               // with the table's key, the id as received
        std::int64_t connection; // the connection the request was written to
    };

    // A client line on its way to the host application.
    struct Pending {
        Line line;
        Classification message;
        bool recorded = false;                // its request is in unanswered_
        std::optional<Outstanding> displaced; // what its entry replaced
    };

    void handleClientLines(LineBuffer& input);
    void refuseTooLong(const Line& part, std::unique_lock<std::mutex>& state);
    void writeRun(std::unique_lock<std::mutex>& state);
    void deliver(Pending& line, int attempts, bool repeatHandshake,
                 std::unique_lock<std::mutex>& state);
    void record(Pending& line);
    void forget(Pending& line);
    void settle(Pending& line, bool delivered, std::unique_lock<std::mutex>& state);
    bool ensureConnected(bool repeatHandshake);
    bool listen(int fd, std::int64_t connection);
    void readConnection(int fd, std::int64_t connection);
    void dropTooLong(const Classification& message);
    void emit(std::string_view bytesWithFeed);
    void emitError(std::string_view idJson, std::string_view message);

    const Settings settings_;
    const int inputFd_;
    const int outputFd_;
    StreamClassifier tooLong_; // main thread only: the client's line over the limit
    std::vector<Pending> run_; // main thread only: lines waiting to be written together

    std::mutex stateLock_;
    int appFd_ = -1;
    std::int64_t appConnection_ = 0; // number of the connection in appFd_
    std::int64_t connections_ = 0;
    std::optional<std::string> handshake_;     // initialize members other than "id"
    std::optional<std::string> handshakeDone_; // initialized line, line feed included

    std::mutex unansweredLock_;
    std::unordered_map<std::string, Outstanding> unanswered_;

    std::mutex outputLock_;
};

} // namespace quorvane::bridge
