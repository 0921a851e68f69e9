#pragma once
// The screen capture service: which windows are on screen, whether the
// screen may be recorded, and (for window recording) a stream of one window.
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvane::platform {

// A failure of the screen capture service; what() is its description.
class ScreenCaptureError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
};

struct OwningApplication {
    std::string applicationName;
};

// One on-screen window as the service lists it.
struct Window {
    std::uint32_t windowID = 0;
    Rect frame;                   // points, global coordinates, origin top-left, y down
    std::int64_t windowLayer = 0; // 0 = ordinary application window
    std::optional<std::string> title;
    std::optional<OwningApplication> owningApplication;
};

class ScreenCaptureService {
  public:
    virtual ~ScreenCaptureService() = default;

    // On-screen windows, desktop windows excluded, front-most first.
    // Throws ScreenCaptureError.
    virtual std::vector<Window> shareableWindows() = 0;

    // Whether screen recording is allowed now (never asks the user).
    virtual bool preflightAccess() = 0;
    // Asks for screen recording access; returns whether it is allowed.
    virtual bool requestAccess() = 0;

    // The window recording stream is declared beside the recording engine.
};

// The service of this system (X11 on Linux).
std::unique_ptr<ScreenCaptureService> makeScreenCaptureService();

} // namespace quorvane::platform
