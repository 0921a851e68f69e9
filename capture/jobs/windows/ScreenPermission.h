#pragma once
#include <string_view>

namespace quorvane::jobs::windows {

// The one sentence shown wherever screen recording is refused.
inline constexpr std::string_view kScreenPermissionMessage =
    "Quorvane is not allowed to record the screen yet. Switch it on in System Settings, Privacy & "
    "Security, Screen & System Audio Recording, then reopen Quorvane.";

} // namespace quorvane::jobs::windows
