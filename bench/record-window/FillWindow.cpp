// A benchmark window that changes its whole surface every tick at almost no
// cost of its own: the X server fills a grid of coloured rectangles whose
// colours move on each tick. Usage: fill-window <width> <height> <rate> <title>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: fill-window <width> <height> <rate> <title> <count file>\n");
        return 2;
    }
    const int width = std::atoi(argv[1]);
    const int height = std::atoi(argv[2]);
    const double rate = std::strtod(argv[3], nullptr);
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) return 1;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    const std::uint32_t values[] = {screen->black_pixel};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0,
                      static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL,
                      values);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        static_cast<std::uint32_t>(std::strlen(argv[4])), argv[4]);
    // WM_CLASS makes it a listed application window ("fill-window").
    const char wmClass[] = "fill-window\0FillWindow";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        sizeof wmClass, wmClass);
    xcb_map_window(c, window);
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, window, 0, nullptr);

    // 16 x 9 cells; each tick every cell takes the next colour.
    constexpr int columns = 16, rows = 9;
    std::vector<xcb_rectangle_t> cells;
    for (int r = 0; r < rows; ++r)
        for (int col = 0; col < columns; ++col)
            cells.push_back({static_cast<std::int16_t>(col * width / columns),
                             static_cast<std::int16_t>(r * height / rows),
                             static_cast<std::uint16_t>(width / columns + 1),
                             static_cast<std::uint16_t>(height / rows + 1)});
    const auto interval = std::chrono::duration<double>(1.0 / rate);
    auto next = std::chrono::steady_clock::now();
    for (std::uint32_t tick = 0;; ++tick) {
        for (std::size_t i = 0; i < cells.size(); ++i) {
            const std::uint32_t k = tick * 7 + static_cast<std::uint32_t>(i) * 13;
            const std::uint32_t colour =
                ((k * 37) & 0xff) << 16 | ((k * 59) & 0xff) << 8 | ((k * 83) & 0xff);
            xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &colour);
            xcb_poly_fill_rectangle(c, window, gc, 1, &cells[i]);
        }
        // Drawn once the server has done it: the round trip waits for that.
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        if (xcb_connection_has_error(c)) return 0;
        // Replaced whole, so that a reader never sees it half written.
        const std::string temp = std::string(argv[5]) + ".new";
        if (std::FILE* f = std::fopen(temp.c_str(), "w")) {
            std::fprintf(f, "%u\n", tick + 1);
            std::fclose(f);
            std::rename(temp.c_str(), argv[5]);
        }
        next += std::chrono::duration_cast<std::chrono::steady_clock::duration>(interval);
        std::this_thread::sleep_until(next);
    }
}
