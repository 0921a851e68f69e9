#pragma once
// A screen capture service that lists given windows and counts permission calls.
#include "platform/ScreenCapture.h"

#include <optional>
#include <string>
#include <vector>

namespace quorvane::testing {

class FakeScreenCapture final : public platform::ScreenCaptureService {
  public:
    std::vector<platform::Window> windows;
    std::optional<std::string> failure; // thrown by shareableWindows when set
    bool granted = false;
    bool grantedOnRequest = false;
    int listings = 0, preflights = 0, requests = 0;

    std::vector<platform::Window> shareableWindows() override {
        ++listings;
        if (failure) throw platform::ScreenCaptureError(*failure);
        return windows;
    }
    bool preflightAccess() override {
        ++preflights;
        return granted;
    }
    bool requestAccess() override {
        ++requests;
        return grantedOnRequest;
    }
};

inline platform::Window window(std::uint32_t id, double width, double height,
                               std::optional<std::string> app = "App", std::int64_t layer = 0,
                               std::optional<std::string> title = std::nullopt) {
    platform::Window w;
    w.windowID = id;
    w.frame = {10, 20, width, height};
    w.windowLayer = layer;
    w.title = std::move(title);
    if (app) w.owningApplication = platform::OwningApplication{*app};
    return w;
}

} // namespace quorvane::testing
