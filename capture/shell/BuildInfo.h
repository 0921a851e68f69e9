#pragma once
// What this build is, compiled into the program and into every job module
// (both take it in with the core).
#include <string_view>

namespace quorvane::shell {

// The program's version, from the project's version.
std::string_view programVersion();

// A text made once per build folder: the program refuses a job module whose
// build text differs, since the two would not agree on the types they share.
const char* buildId();

} // namespace quorvane::shell
