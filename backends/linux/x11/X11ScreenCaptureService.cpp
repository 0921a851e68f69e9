// The screen capture service on an X11 display.
#include "platform/ScreenCapture.h"
#include "text/Utf8.h"
#include "x11/ScreenAccess.h"
#include "x11/WindowList.h"
#include "x11/XcbConnection.h"

#include <cstdlib>
#include <string>

namespace quorvane::backends::x11 {
namespace {

using namespace platform;

std::string cannotOpenDisplay() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') {
        return "Quorvane cannot list windows: no X display is set (DISPLAY is empty).";
    }
    return "Quorvane cannot open the X display " + text::validUtf8(name) + ".";
}

class X11ScreenCaptureService final : public ScreenCaptureService {
  public:
    std::vector<Window> shareableWindows() override {
        const auto connection = backends::x11::XcbConnection::open();
        if (!connection) throw ScreenCaptureError(cannotOpenDisplay());
        auto windows = backends::x11::listWindows(*connection);
        if (!connection->healthy()) {
            throw ScreenCaptureError("Quorvane lost the connection to the X display.");
        }
        return windows;
    }

    bool preflightAccess() override { return backends::x11::screenAccessGranted(); }
    bool requestAccess() override { return backends::x11::screenAccessGranted(); }
};

} // namespace
} // namespace quorvane::backends::x11

namespace quorvane::platform {

using namespace backends::x11;

std::unique_ptr<ScreenCaptureService> makeScreenCaptureService() {
    return std::make_unique<X11ScreenCaptureService>();
}

} // namespace quorvane::platform
