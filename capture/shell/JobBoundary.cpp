#include "shell/JobBoundary.h"

#include "shell/Output.h"
#include "text/Utf8.h"

#include <new>
#include <stdexcept>

namespace quorvane::shell {
namespace {

// The running job's failure form; set once, before the job starts threads.
JobFailure& running() {
    static JobFailure failure;
    return failure;
}

std::string reasonFor(std::exception_ptr error) {
    if (!error) return "Something went wrong that Quorvane did not expect.";
    try {
        std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
        return "There was not enough memory.";
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
    }
    return "Something went wrong that Quorvane did not expect.";
}

// One line: libraries put line breaks and tabs into their messages.
std::string oneLine(std::string_view text) {
    std::string out;
    bool space = false;
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == ' ') {
            space = !out.empty();
            continue;
        }
        if (space) out += ' ';
        space = false;
        out += c;
    }
    return out;
}

[[noreturn]] void failJob(std::exception_ptr error) {
    const std::string line = failureText(running(), error);
    if (running().plainLine) finishWithPlainError(line);
    failWith(line);
}

[[noreturn]] void onTerminate() {
    failJob(std::current_exception());
}

} // namespace

std::string failureText(const JobFailure& failure, std::exception_ptr error) {
    std::string reason = oneLine(text::validUtf8(reasonFor(error)));
    if (reason.empty()) reason = "Something went wrong that Quorvane did not expect.";
    return failure.sentence + " " + reason;
}

void runJob(JobFailure failure, const std::function<void()>& job) {
    running() = std::move(failure);
    std::set_terminate(onTerminate);
    try {
        job();
    } catch (...) {
        failJob(std::current_exception());
    }
    exitProcess(0); // jobs end the process themselves
}

} // namespace quorvane::shell
