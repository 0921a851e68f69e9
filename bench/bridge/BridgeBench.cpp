// Throughput, latency and peak memory of `quorvane mcp`, side by side with
// `socat - UNIX-CONNECT:<socket>` relaying the same traffic to the same
// test host. Run on demand:
//   bridge-bench <path to quorvane> [path to socat]
#include "io/WriteAll.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "bridge-bench: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

void writeAll(int fd, const char* data, std::size_t size) {
    if (!quorvane::io::writeAll(fd, std::string_view(data, size))) die("write");
}

// Reads and discards exactly `count` bytes.
void drain(int fd, std::size_t count) {
    static thread_local std::vector<char> buffer(1 << 20);
    while (count > 0) {
        ssize_t n = ::read(fd, buffer.data(), std::min(buffer.size(), count));
        if (n <= 0) die("read");
        count -= static_cast<std::size_t>(n);
    }
}

// A JSON-RPC line of exactly `size` bytes, line feed included.
std::string lineOfSize(std::size_t size, bool reply) {
    const std::string head =
        reply ? R"({"jsonrpc":"2.0","id":1,"result":{"data":")"
              : R"({"jsonrpc":"2.0","method":"notifications/message","params":{"data":")";
    const std::string tail = "\"}}\n";
    return head + std::string(size - head.size() - tail.size(), 'x') + tail;
}

// Reads until the bytes read end with `tail`: whatever a relay passes on
// before it, it is let through.
void drainUntil(int fd, const std::string& tail) {
    std::vector<char> buffer(1 << 20);
    std::string last;
    for (;;) {
        ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n <= 0) die("read");
        last.append(buffer.data(), static_cast<std::size_t>(n));
        if (last.size() > tail.size()) last.erase(0, last.size() - tail.size());
        if (last == tail) return;
    }
}

struct Relay {
    pid_t pid = -1;
    int in = -1;  // its standard input
    int out = -1; // its standard output
};

class Bench {
  public:
    Bench(std::string bridge, std::string socat)
        : bridge_(std::move(bridge)), socat_(std::move(socat)) {
        char dir[] = "/tmp/qbenchXXXXXX";
        if (!::mkdtemp(dir)) die("mkdtemp");
        dir_ = dir;
        path_ = dir_ + "/app.sock";
    }
    ~Bench() {
        ::unlink(path_.c_str());
        ::rmdir(dir_.c_str());
    }

    int listen() {
        ::unlink(path_.c_str());
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) die("bind");
        if (::listen(fd, 4) != 0) die("listen");
        return fd;
    }

    Relay start(bool useBridge) {
        int toChild[2], fromChild[2];
        if (::pipe(toChild) != 0 || ::pipe(fromChild) != 0) die("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
        posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
        for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]})
            posix_spawn_file_actions_addclose(&actions, fd);
        std::vector<std::string> args;
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            env.emplace_back(*e);
        if (useBridge) {
            args = {bridge_, "mcp"};
            env.push_back("QUORVANE_MCP_SOCKET=" + path_);
        } else {
            args = {socat_, "-", "UNIX-CONNECT:" + path_};
        }
        std::vector<char*> argv, envp;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        Relay relay;
        if (::posix_spawn(&relay.pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0)
            die("spawn " + args[0]);
        posix_spawn_file_actions_destroy(&actions);
        ::close(toChild[0]);
        ::close(fromChild[1]);
        relay.in = toChild[1];
        relay.out = fromChild[0];
        return relay;
    }

    static void stop(Relay& relay) {
        ::close(relay.in);
        ::close(relay.out);
        int status;
        ::waitpid(relay.pid, &status, 0);
    }

    // Megabytes per second through the relay, client to host or back.
    double throughput(bool useBridge, std::size_t lineSize, bool toHost, std::size_t total) {
        int listener = listen();
        Relay relay = start(useBridge);
        const std::string line = lineOfSize(lineSize, !toHost);
        const std::size_t count = std::max<std::size_t>(1, total / lineSize);
        const std::string hello = R"({"jsonrpc":"2.0","method":"notifications/initialized"})"
                                  "\n";
        // The bridge connects on the first line: both relays get one first.
        writeAll(relay.in, hello.data(), hello.size());
        int conn = ::accept(listener, nullptr, nullptr);
        if (conn < 0) die("accept");
        drain(conn, hello.size());

        // Batches of lines per write, as a busy peer would send them.
        std::string batch;
        const std::size_t perWrite = std::max<std::size_t>(1, (256 << 10) / lineSize);
        for (std::size_t i = 0; i < perWrite; ++i)
            batch += line;
        const auto start = Clock::now();
        std::thread writer([&] {
            const int fd = toHost ? relay.in : conn;
            for (std::size_t sent = 0; sent < count; sent += perWrite) {
                const std::size_t n = std::min(perWrite, count - sent);
                writeAll(fd, batch.data(), n * line.size());
            }
        });
        drain(toHost ? conn : relay.out, count * line.size());
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        writer.join();
        ::close(conn);
        ::close(listener);
        stop(relay);
        return static_cast<double>(count * line.size()) / seconds / 1e6;
    }

    // Round trips of small requests, in microseconds: p50 and p99.
    std::pair<double, double> latency(bool useBridge, int rounds) {
        int listener = listen();
        Relay relay = start(useBridge);
        std::thread host([&] {
            int conn = ::accept(listener, nullptr, nullptr);
            if (conn < 0) die("accept");
            std::string pending;
            char buffer[65536];
            for (;;) {
                ssize_t n = ::read(conn, buffer, sizeof buffer);
                if (n <= 0) break;
                pending.append(buffer, static_cast<std::size_t>(n));
                std::size_t feed;
                while ((feed = pending.find('\n')) != std::string::npos) {
                    const std::size_t at = pending.find("\"id\":");
                    const std::size_t end = pending.find(',', at);
                    std::string reply = R"({"jsonrpc":"2.0","id":)" +
                                        pending.substr(at + 5, end - at - 5) +
                                        R"(,"result":{}})"
                                        "\n";
                    writeAll(conn, reply.data(), reply.size());
                    pending.erase(0, feed + 1);
                }
            }
            ::close(conn);
        });
        std::vector<double> micros;
        char buffer[4096];
        for (int i = 0; i < rounds + 100; ++i) {
            const std::string request = R"({"jsonrpc":"2.0","id":)" + std::to_string(i) +
                                        R"(,"method":"tools/list"})"
                                        "\n";
            const auto start = Clock::now();
            writeAll(relay.in, request.data(), request.size());
            for (;;) {
                ssize_t n = ::read(relay.out, buffer, sizeof buffer);
                if (n <= 0) die("read reply");
                if (buffer[n - 1] == '\n') break;
            }
            if (i >= 100) // the first ones include connecting
                micros.push_back(
                    std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
        stop(relay);
        host.join();
        ::close(listener);
        std::sort(micros.begin(), micros.end());
        return {micros[micros.size() / 2], micros[micros.size() * 99 / 100]};
    }

    // Peak resident memory of the relay, in MiB, while one line of `size`
    // bytes passes client to host or back. A line over the bridge's limit
    // is not passed on: then a short line sent after it is waited for.
    double peakMemory(bool useBridge, std::size_t size, bool toHost, bool overLimit = false) {
        int listener = listen();
        Relay relay = start(useBridge);
        const std::string hello = R"({"jsonrpc":"2.0","method":"notifications/initialized"})"
                                  "\n";
        writeAll(relay.in, hello.data(), hello.size());
        int conn = ::accept(listener, nullptr, nullptr);
        drain(conn, hello.size());
        const std::string line = lineOfSize(size, !toHost);
        const int from = toHost ? relay.in : conn;
        const int to = toHost ? conn : relay.out;
        std::thread writer([&] {
            writeAll(from, line.data(), line.size());
            if (overLimit) writeAll(from, hello.data(), hello.size());
        });
        if (overLimit)
            drainUntil(to, hello);
        else
            drain(to, line.size());
        writer.join();
        std::ifstream status("/proc/" + std::to_string(relay.pid) + "/status");
        double mib = 0;
        for (std::string key; status >> key;) {
            if (key == "VmHWM:") {
                status >> mib;
                mib /= 1024;
                break;
            }
        }
        ::close(conn);
        ::close(listener);
        stop(relay);
        return mib;
    }

  private:
    std::string bridge_, socat_, dir_, path_;
};

template <class F> double best(int runs, F measure) {
    double top = 0;
    for (int i = 0; i < runs; ++i)
        top = std::max(top, measure());
    return top;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bridge-bench <quorvane> [socat]\n");
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    Bench bench(argv[1], argc > 2 ? argv[2] : "/usr/bin/socat");
    const int runs = 3;

    std::printf("%-24s %12s %12s %8s\n", "throughput (MB/s)", "quorvane", "socat", "ratio");
    for (std::size_t size : {std::size_t{1} << 10, std::size_t{64} << 10, std::size_t{4} << 20}) {
        for (bool toHost : {true, false}) {
            const std::size_t total = std::size_t{256} << 20;
            double b = best(runs, [&] { return bench.throughput(true, size, toHost, total); });
            double s = best(runs, [&] { return bench.throughput(false, size, toHost, total); });
            char label[64];
            std::snprintf(label, sizeof label, "%zu KiB %s", size >> 10,
                          toHost ? "client->host" : "host->client");
            std::printf("%-24s %12.0f %12.0f %8.2f\n", label, b, s, b / s);
        }
    }

    const int rounds = 20000;
    auto [b50, b99] = bench.latency(true, rounds);
    auto [s50, s99] = bench.latency(false, rounds);
    std::printf("\n%-24s %12s %12s %8s\n", "round trip (us)", "quorvane", "socat", "ratio");
    std::printf("%-24s %12.1f %12.1f %8.2f\n", "p50", b50, s50, b50 / s50);
    std::printf("%-24s %12.1f %12.1f %8.2f\n", "p99", b99, s99, b99 / s99);

    // A line of n bytes may cost the bridge at most 1.25 n + 8 MiB.
    std::printf("\n%-24s %12s %12s %12s\n", "peak RSS (MiB)", "quorvane", "socat", "1.25n+8MiB");
    for (std::size_t mib : {std::size_t{16}, std::size_t{60}}) {
        for (bool toHost : {true, false}) {
            const double n = static_cast<double>(mib);
            double b = bench.peakMemory(true, mib << 20, toHost);
            double s = bench.peakMemory(false, mib << 20, toHost);
            char label[64];
            std::snprintf(label, sizeof label, "%zu MiB line %s", mib,
                          toHost ? "client->host" : "host->client");
            std::printf("%-24s %12.1f %12.1f %12.1f  %s\n", label, b, s, 1.25 * n + 8,
                        b <= 1.25 * n + 8 ? "within" : "OVER");
        }
    }
    // Over the 64 MiB limit a line is let go as it comes: the cost stays
    // that of a line at the limit, however long the line.
    for (bool toHost : {true, false}) {
        const std::size_t size = std::size_t{200} << 20;
        double b = bench.peakMemory(true, size, toHost, true);
        std::printf("%-24s %12.1f %12s %12.1f  %s\n",
                    toHost ? "200 MiB (dropped) c->h" : "200 MiB (dropped) h->c", b, "-",
                    1.25 * 64 + 8, b <= 1.25 * 64 + 8 ? "within" : "OVER");
    }
    return 0;
}
