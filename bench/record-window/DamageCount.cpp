// Counts how often a window's contents change (XDamage) during a number of
// seconds: what a window recorder had to catch. Used by bench/record-window.
#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <poll.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: damage-count <window id> <seconds>\n");
        return 2;
    }
    const auto window = static_cast<xcb_window_t>(std::strtoul(argv[1], nullptr, 0));
    const double seconds = std::strtod(argv[2], nullptr);
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) return 1;
    std::free(xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr));
    const std::uint8_t notify = xcb_get_extension_data(c, &xcb_damage_id)->first_event;
    const xcb_damage_damage_t damage = xcb_generate_id(c);
    xcb_damage_create(c, damage, window, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
    xcb_flush(c);
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    long changes = 0;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(left.count()));
        while (xcb_generic_event_t* e = xcb_poll_for_event(c)) {
            if ((e->response_type & 0x7f) == notify) {
                ++changes;
                xcb_damage_subtract(c, damage, XCB_NONE, XCB_NONE);
            }
            std::free(e);
        }
        xcb_flush(c);
        if (xcb_connection_has_error(c)) break;
    }
    std::printf("%ld\n", changes);
    xcb_disconnect(c);
}
