#pragma once
// The edge of every job: whatever is thrown and not caught by the job itself
// (running out of memory, a library's own exception, anything at all), on
// the main thread or any other, ends the process with the job's own failure
// line instead of an abort with nothing said.
#include <exception>
#include <functional>
#include <string>

namespace quorvane::shell {

struct JobFailure {
    // The job's own failure sentence, such as "The recording failed."; the
    // reason follows it.
    std::string sentence;
    // A plain line on standard error instead of an error object (faces).
    bool plainLine = false;
};

// The sentence and the reason for `error`, as one line of valid text.
std::string failureText(const JobFailure& failure, std::exception_ptr error);

// Runs `job`, which ends the process itself. An exception that escapes it,
// or reaches std::terminate from any thread, prints the failure line and
// ends the process with status 1.
[[noreturn]] void runJob(JobFailure failure, const std::function<void()>& job);

} // namespace quorvane::shell
