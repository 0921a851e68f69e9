#pragma once
// Which on-screen windows count as recordable, and how a window is reported.
#include "platform/ScreenCapture.h"
#include "json/Value.h"

#include <vector>

namespace quorvane::jobs::windows {

// The recordable windows in the order the service listed them: ordinary
// layer, at least 240 by 160 points, owned by a named application.
// Throws what the service throws (platform::ScreenCaptureError).
std::vector<platform::Window> realWindows(platform::ScreenCaptureService& service);

// Whether one listed window is recordable (the rule realWindows applies).
bool isRecordable(const platform::Window& window);

// The window description: id, app, title, width, height (sizes truncated
// toward zero).
json::Object describe(const platform::Window& window);

} // namespace quorvane::jobs::windows
