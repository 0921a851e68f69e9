#pragma once
// The one owner of a file descriptor: closes it when it goes.
#include <unistd.h>

namespace quorvane::io {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    // Closes now, for callers to whom the result of close matters (a file
    // whose last bytes the close may still fail to write).
    bool close() {
        const int fd = release();
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int fd_ = -1;
};

} // namespace quorvane::io
