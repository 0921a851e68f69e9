#pragma once
// How every job speaks to the host application: one compact JSON object per
// line on standard output, flushed at once, whole even when several threads
// print; error objects end the process with status 1.
#include "json/Value.h"

#include <string_view>

namespace quorvane::shell {

// Writes `object` as one line and flushes. An object that cannot be
// serialised writes nothing; the caller goes on as if it had been written.
void printObject(const json::Object& object);

// An event line: `ok` true, `event` = name, plus the event's own keys.
void printEvent(std::string_view name, json::Object keys);

// Ends the process now with `status`; standard output has already been
// written. Threads still running are not waited for.
[[noreturn]] void exitProcess(int status);

// printObject, then exitProcess(status).
[[noreturn]] void finish(const json::Object& object, int status = 0);

// The error object (`ok` false, `error` = message, plus `extra`), exit 1.
[[noreturn]] void failWith(std::string_view message, json::Object extra = {});

// One plain line on standard error (the faces job reports failures so).
void printPlainError(std::string_view line);

// `bytes` as they are on standard error, never inside another thread's line.
void writeStandardError(std::string_view bytes);

} // namespace quorvane::shell
