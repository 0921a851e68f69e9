#pragma once
#include "x11/XcbConnection.h"

#include <optional>
#include <string>
#include <sys/types.h>

namespace quorvane::backends::x11 {

// The name of the application owning `client`: the class part of WM_CLASS,
// else the name of the process that made the window; nothing when unknown.
std::optional<std::string> applicationName(const XcbConnection& connection, xcb_window_t client);

// The local process that made `client` (_NET_WM_PID when the window comes
// from this machine, else the X-Resource client id); nothing when unknown.
std::optional<pid_t> owningProcess(const XcbConnection& connection, xcb_window_t client);

} // namespace quorvane::backends::x11
