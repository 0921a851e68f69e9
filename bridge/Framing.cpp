#include "Framing.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <poll.h>
#include <unistd.h>

namespace quorvane::bridge {
namespace {

// Capacity kept while idle; a buffer grown beyond `shrinkAbove` by a long line
// is given back once that line has gone.
constexpr std::size_t idleCapacity = LineBuffer::readSize;
constexpr std::size_t shrinkAbove = 16u << 20;

} // namespace

LineBuffer::~LineBuffer() {
    std::free(data_);
}

void LineBuffer::reserveTail(std::size_t count) {
    if (begin_ == end_) {
        begin_ = end_ = scanned_ = 0;
        if (capacity_ > shrinkAbove) {
            std::free(data_);
            data_ = nullptr;
            capacity_ = 0;
        }
    }
    if (capacity_ - end_ >= count) return;
    const std::size_t kept = end_ - begin_;
    // Moving the unfinished line to the front is cheap when it is no longer
    // than what was consumed before it; each byte moves at most once.
    if (begin_ > 0 && kept <= begin_ && capacity_ - kept >= count) {
        std::memmove(data_, data_ + begin_, kept);
        scanned_ -= begin_;
        begin_ = 0;
        end_ = kept;
        return;
    }
    // Growing by an eighth (not doubling) keeps a long line's buffer within
    // about 1.125 times its size; realloc remaps large blocks rather than
    // copying them, so the many small steps stay cheap.
    std::size_t capacity = capacity_ < idleCapacity ? idleCapacity : capacity_;
    while (capacity - kept < count)
        capacity += capacity / 8 > readSize ? capacity / 8 : readSize;
    if (begin_ > 0) {
        std::memmove(data_, data_ + begin_, kept);
        scanned_ -= begin_;
        begin_ = 0;
        end_ = kept;
    }
    void* grown = std::realloc(data_, capacity);
    if (!grown) throw std::bad_alloc();
    data_ = static_cast<char*>(grown);
    capacity_ = capacity;
}

bool LineBuffer::readFrom(int fd) {
    reserveTail(readSize);
    ssize_t n;
    while ((n = ::read(fd, data_ + end_, readSize)) < 0) {
        // A descriptor handed over non-blocking is waited on, not taken as
        // ended; an interrupted read is tried again.
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            pollfd readable{fd, POLLIN, 0};
            if (::poll(&readable, 1, -1) < 0 && errno != EINTR) return false;
        } else if (errno != EINTR) {
            return false;
        }
    }
    if (n == 0) return false;
    end_ += static_cast<std::size_t>(n);
    return true;
}

void LineBuffer::append(std::string_view bytes) {
    reserveTail(bytes.size());
    if (!bytes.empty()) std::memcpy(data_ + end_, bytes.data(), bytes.size());
    end_ += bytes.size();
}

std::optional<Line> LineBuffer::next() {
    for (;;) {
        if (discarding_) {
            if (begin_ == end_) return std::nullopt;
            const std::size_t start = begin_;
            auto* feed = static_cast<char*>(std::memchr(data_ + start, '\n', end_ - start));
            if (!feed) {
                begin_ = scanned_ = end_;
                return Line{bytes(start, end_), {}, true, false};
            }
            const std::size_t stop = static_cast<std::size_t>(feed - data_);
            begin_ = scanned_ = stop + 1;
            discarding_ = false;
            return Line{bytes(start, stop), bytes(start, stop + 1), true, true};
        }
        auto* feed = scanned_ < end_
                         ? static_cast<char*>(std::memchr(data_ + scanned_, '\n', end_ - scanned_))
                         : nullptr;
        if (!feed) {
            scanned_ = end_;
            // No line feed within the limit: the line is let go as it comes.
            if (end_ - begin_ > maxLine_) {
                discarding_ = true;
                continue;
            }
            return std::nullopt;
        }
        const std::size_t start = begin_;
        const std::size_t stop = static_cast<std::size_t>(feed - data_);
        begin_ = scanned_ = stop + 1;
        if (stop == start) continue;
        return Line{bytes(start, stop), bytes(start, stop + 1), stop - start > maxLine_, true};
    }
}

} // namespace quorvane::bridge
