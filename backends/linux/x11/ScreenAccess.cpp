#include "x11/ScreenAccess.h"

#include "platform/ScreenCapture.h"
#include "x11/PixelLayout.h"
#include "x11/ShmSegment.h"

namespace quorvane::backends::x11 {

bool offersRecording(const XcbConnection& connection) {
    for (const char* extension : {"Composite", "DAMAGE", "XFIXES", "MIT-SHM"}) {
        if (!connection.hasExtension(extension)) return false;
    }
    const xcb_screen_t& screen = connection.screen();
    if (!pixelLayout(connection.get(), screen.root_visual, screen.root_depth).layout) return false;
    // Offered is not enough: a server in another IPC namespace (a container,
    // a sandbox) cannot attach this process's shared memory.
    try {
        ShmSegment probe(connection.get(), 4096);
    } catch (const platform::ScreenCaptureError&) {
        return false;
    }
    return true;
}

bool screenAccessGranted() {
    const auto connection = XcbConnection::open();
    return connection && offersRecording(*connection);
}

} // namespace quorvane::backends::x11
