#pragma once
// The two facts about the host application that differ per platform: where
// its socket lives by default, and how it is started without being raised.
#include "Settings.h"

#include <string>

namespace quorvane::bridge {

// The user's home directory followed by the platform's fixed socket path.
std::string defaultSocketPath(const Environment& environment);

// Starts the host application and waits until the launcher has ended, for at
// most about 5 s, watching `watchedInput` for its end meanwhile (see
// waitWatching). The launcher is looked for in the absolute entries of
// `settings.searchPath` only, and neither it nor what it starts gets any
// descriptor of the bridge. Any failure is ignored: the caller polls for the
// socket either way. False when the input ended during the wait.
bool launchApp(const Settings& settings, int watchedInput);

} // namespace quorvane::bridge
