// The one write loop and the one descriptor owner, on real pipes.
#include "io/UniqueFd.h"
#include "io/WriteAll.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace quorvane::io {
namespace {

bool isOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

struct Pipe {
    Pipe() {
        int fds[2];
        EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
        in.reset(fds[0]);
        out.reset(fds[1]);
    }
    UniqueFd in;
    UniqueFd out;
};

TEST(WriteAll, WritesFarMoreThanOnePipeHoldsWhileTheReaderIsSlow) {
    Pipe pipe;
    std::string bytes(1 << 20, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 % 251);
    std::string received;
    std::thread reader([&] {
        char buffer[777];
        ssize_t n;
        while ((n = ::read(pipe.in.get(), buffer, sizeof buffer)) > 0)
            received.append(buffer, static_cast<std::size_t>(n));
    });
    EXPECT_TRUE(writeAll(pipe.out.get(), bytes));
    pipe.out.reset();
    reader.join();
    EXPECT_EQ(received, bytes);
}

// A descriptor handed over non-blocking is waited on, not taken as failed:
// every byte goes out, in order, to a reader that comes late and reads slowly.
TEST(WriteAll, WaitsOnANonBlockingDescriptorInsteadOfStopping) {
    Pipe pipe;
    ASSERT_EQ(::fcntl(pipe.out.get(), F_SETFL, O_NONBLOCK), 0);
    std::string bytes(1 << 20, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 13 % 251);
    std::string received;
    std::thread reader([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        char buffer[777];
        ssize_t n;
        while ((n = ::read(pipe.in.get(), buffer, sizeof buffer)) > 0)
            received.append(buffer, static_cast<std::size_t>(n));
    });
    EXPECT_TRUE(writeAll(pipe.out.get(), bytes));
    pipe.out.reset();
    reader.join();
    EXPECT_EQ(received, bytes);
}

TEST(WriteAll, TellsHowMuchWentOutBeforeTheWriteFailed) {
    Pipe pipe;
    const auto previous = std::signal(SIGPIPE, SIG_IGN);
    // A reader that takes some of it and goes away while the rest is written.
    std::size_t taken = 0;
    std::thread reader([&] {
        char buffer[4096];
        ssize_t n;
        while (taken < 200000 && (n = ::read(pipe.in.get(), buffer, sizeof buffer)) > 0)
            taken += static_cast<std::size_t>(n);
        pipe.in.reset();
    });
    const std::string bytes(std::size_t{4} << 20, 'x');
    const std::size_t written = writeWhatCan(pipe.out.get(), bytes);
    reader.join();
    EXPECT_GE(written, taken);
    EXPECT_LT(written, bytes.size());
    EXPECT_FALSE(writeAll(pipe.out.get(), bytes));

    // A reader that went away: nothing is written, and the process lives on.
    EXPECT_EQ(writeWhatCan(pipe.out.get(), "after"), 0u);
    std::signal(SIGPIPE, previous);
    EXPECT_TRUE(writeAll(pipe.out.get(), "")); // nothing to write is success
}

TEST(UniqueFd, ClosesOnceWhateverWayItsDescriptorLeaves) {
    Pipe pipe;
    const int in = pipe.in.get();
    const int out = pipe.out.get();
    {
        UniqueFd moved(std::move(pipe.in));
        EXPECT_FALSE(pipe.in);
        EXPECT_TRUE(isOpen(in));
        UniqueFd target;
        target = std::move(moved);
        EXPECT_EQ(target.get(), in);
    }
    EXPECT_FALSE(isOpen(in)); // closed by the last owner only

    EXPECT_TRUE(pipe.out.close());
    EXPECT_FALSE(isOpen(out));
    EXPECT_FALSE(pipe.out);
    EXPECT_TRUE(pipe.out.close()); // an empty owner has nothing to close

    UniqueFd released(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    const int raw = released.release();
    { UniqueFd gone(std::move(released)); }
    EXPECT_TRUE(isOpen(raw)); // released: the caller owns it now
    ::close(raw);
}

} // namespace
} // namespace quorvane::io
