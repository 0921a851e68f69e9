#include "x11/ScreenAccess.h"

namespace quorvane::backends::x11 {

bool offersRecording(const XcbConnection& connection) {
    for (const char* extension : {"Composite", "DAMAGE", "XFIXES", "MIT-SHM"}) {
        if (!connection.hasExtension(extension)) return false;
    }
    return true;
}

bool screenAccessGranted() {
    const auto connection = XcbConnection::open();
    return connection && offersRecording(*connection);
}

} // namespace quorvane::backends::x11
