#include "shell/Output.h"

#include "io/WriteAll.h"
#include "text/Utf8.h"
#include "json/Writer.h"

#include <atomic>
#include <cmath>
#include <mutex>
#include <string>
#include <unistd.h>

namespace quorvane::shell {
namespace {

// Serialises whole lines from every thread of the process, and guards the
// latch below.
std::mutex outputLock;
// Set by the first final line; nothing is printed after it.
bool ended = false;
std::atomic<bool> stdoutFailed{false};

bool writeLine(int fd, std::string line, bool final) {
    line += '\n';
    std::unique_lock lock(outputLock);
    if (ended) {
        if (!final) return false;
        // Another thread is ending the process with its own line.
        lock.unlock();
        for (;;)
            ::pause();
    }
    if (final) ended = true;
    const bool written = io::writeAll(fd, line);
    if (!written && fd == STDOUT_FILENO) stdoutFailed = true;
    return written;
}

json::Value printable(const json::Value& value) {
    struct Visitor {
        json::Value operator()(std::nullptr_t) const { return nullptr; }
        json::Value operator()(bool b) const { return b; }
        json::Value operator()(std::int64_t i) const { return static_cast<long long>(i); }
        json::Value operator()(double d) const {
            return std::isfinite(d) ? json::Value(d) : json::Value(nullptr);
        }
        json::Value operator()(json::Decimal d) const {
            return std::isfinite(d.value) ? json::Value(d) : json::Value(nullptr);
        }
        json::Value operator()(const std::string& s) const { return text::validUtf8(s); }
        json::Value operator()(const json::Array& a) const {
            json::Array out;
            out.reserve(a.size());
            for (const auto& v : a)
                out.push_back(printable(v));
            return out;
        }
        json::Value operator()(const json::Object& o) const {
            json::Object out;
            for (const auto& [k, v] : o)
                out[text::validUtf8(k)] = printable(v);
            return out;
        }
    };
    return std::visit(Visitor{}, value.storage());
}

} // namespace

std::string lineFor(const json::Object& object) {
    if (auto text = json::trySerialize(object)) return std::move(*text);
    return json::serialize(printable(object));
}

bool printObject(const json::Object& object) {
    return writeLine(STDOUT_FILENO, lineFor(object), false);
}

bool printEvent(std::string_view name, json::Object keys) {
    keys["ok"] = true;
    keys["event"] = std::string(name);
    return printObject(keys);
}

bool outputFailed() {
    return stdoutFailed;
}

void exitProcess(int status) {
    // Output is written unbuffered above; skip static destructors, which
    // would race threads that are still blocked in platform calls.
    ::_exit(status == 0 && stdoutFailed ? 1 : status);
}

void finish(const json::Object& object, int status) {
    writeLine(STDOUT_FILENO, lineFor(object), true);
    exitProcess(status);
}

void finishWithText(std::string line, int status) {
    writeLine(STDOUT_FILENO, std::move(line), true);
    exitProcess(status);
}

void failWith(std::string_view message, json::Object extra) {
    extra["ok"] = false;
    extra["error"] = std::string(message);
    finish(extra, 1);
}

void finishWithPlainError(std::string_view line) {
    // One line, whatever the texts in it (a file name with a line feed).
    writeLine(STDERR_FILENO, text::oneLine(line), true);
    exitProcess(1);
}

void writeStandardError(std::string_view bytes) {
    // Progress drawings: under the output lock, and never after the final line.
    const std::lock_guard lock(outputLock);
    if (!ended) io::writeAll(STDERR_FILENO, bytes);
}

} // namespace quorvane::shell
