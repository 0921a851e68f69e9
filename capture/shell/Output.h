#pragma once
// How every job speaks to the host application: one compact JSON object per
// line on standard output, flushed at once, whole even when several threads
// print; error objects end the process with status 1.
//
// One latch: the line that ends the process (finish, failWith,
// finishWithText, finishWithPlainError) is the last thing printed. Whoever
// comes second prints nothing and waits for the end, so no event can follow
// a stopped event or an error.
#include "json/Value.h"

#include <string>
#include <string_view>

namespace quorvane::shell {

// The line for `object`, without its line feed. The writer refuses text that
// is not UTF-8 and numbers that are not finite; every job makes its texts
// valid first, so a refusal is a mistake of ours, and the line is still
// written: refused texts with their invalid bytes replaced by U+FFFD,
// refused numbers as null.
std::string lineFor(const json::Object& object);

// Writes `object` as one line. Returns whether the whole line reached
// standard output: false when writing failed, or when the final line has
// already been printed (then nothing is written).
bool printObject(const json::Object& object);

// An event line: `ok` true, `event` = name, plus the event's own keys.
bool printEvent(std::string_view name, json::Object keys);

// Whether a write to standard output has failed (a closed pipe, a full disk).
bool outputFailed();

// Ends the process now with `status`, or with 1 when a write to standard
// output failed: the host application did not get every line. Output is
// already written; threads still running are not waited for.
[[noreturn]] void exitProcess(int status);

// The final line `object`, then exitProcess(status).
[[noreturn]] void finish(const json::Object& object, int status = 0);

// The final line as text made elsewhere (the transcript), then exitProcess.
[[noreturn]] void finishWithText(std::string line, int status);

// The final error object (`ok` false, `error` = message, plus `extra`), exit 1.
[[noreturn]] void failWith(std::string_view message, json::Object extra = {});

// The final line as plain text on standard error, exit 1 (how the faces job
// reports its failures).
[[noreturn]] void finishWithPlainError(std::string_view line);

// `bytes` as they are on standard error, never inside another thread's line.
void writeStandardError(std::string_view bytes);

} // namespace quorvane::shell
