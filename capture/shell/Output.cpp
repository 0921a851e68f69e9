#include "shell/Output.h"

#include "io/WriteAll.h"
#include "json/Writer.h"

#include <mutex>
#include <string>
#include <unistd.h>

namespace quorvane::shell {
namespace {

// Serialises whole lines from every thread of the process.
std::mutex outputLock;

void writeAll(int fd, std::string_view bytes) {
    std::lock_guard lock(outputLock);
    io::writeAll(fd, bytes); // a reader that went away can be told nothing more
}

} // namespace

void printObject(const json::Object& object) {
    auto text = json::trySerialize(object);
    if (!text) return;
    *text += '\n';
    writeAll(STDOUT_FILENO, *text);
}

void printEvent(std::string_view name, json::Object keys) {
    keys["ok"] = true;
    keys["event"] = std::string(name);
    printObject(keys);
}

void exitProcess(int status) {
    // Output is written unbuffered above; skip static destructors, which
    // would race threads that are still blocked in platform calls.
    ::_exit(status);
}

void finish(const json::Object& object, int status) {
    printObject(object);
    exitProcess(status);
}

void failWith(std::string_view message, json::Object extra) {
    extra["ok"] = false;
    extra["error"] = std::string(message);
    finish(extra, 1);
}

void printPlainError(std::string_view line) {
    std::string text(line);
    text += '\n';
    writeAll(STDERR_FILENO, text);
}

} // namespace quorvane::shell
