#pragma once
// Which listed window a record-window run records.
#include "platform/ScreenCapture.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::jobs::record_window {

// Whether `text` contains `part`, compared without regard to case under the
// user's locale. An empty `part` is contained nowhere.
bool containsIgnoringCase(std::string_view text, std::string_view part);

// The candidates are the windows numbered `windowId` when it is given, else
// those whose application name contains `app`; the largest by frame area wins,
// the first listed among equals. Nothing when there is no candidate.
std::optional<platform::Window> chooseWindow(const std::vector<platform::Window>& windows,
                                             std::optional<std::uint32_t> windowId,
                                             const std::optional<std::string>& app);

} // namespace quorvane::jobs::record_window
