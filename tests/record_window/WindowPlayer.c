/* A test X client that is both an application and, on request, its window
 * manager: it repaints its window in a new colour every 20 ms, prints the
 * window's id, and reads one command a line from standard input, answering
 * "done" when the server has it:
 *
 *   iconify    unmap, then WM_STATE Iconic (as a window manager minimizes)
 *   normal     WM_STATE Normal, the window left unmapped (a window manager
 *              about to show it again)
 *   map        map the window
 *   withdraw   unmap, then WM_STATE Withdrawn (the client takes it away)
 *   unmap      unmap only
 *   border N   border width N
 *
 * With --manager it also holds the root's substructure redirection, as a
 * window manager does (its own requests still go through).
 *
 * Usage: window-player TITLE [WIDTH HEIGHT] [--manager] */
#include <xcb/xcb.h>

#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static xcb_atom_t intern(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, (uint16_t)strlen(name), name), NULL);
    xcb_atom_t atom = reply ? reply->atom : XCB_ATOM_NONE;
    free(reply);
    return atom;
}

static void set_state(xcb_connection_t* c, xcb_window_t w, xcb_atom_t wm_state, uint32_t state) {
    const uint32_t value[2] = {state, XCB_NONE};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, wm_state, wm_state, 32, 2, value);
}

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char** argv) {
    const char* title = argc > 1 ? argv[1] : "Player";
    int manager = 0;
    if (argc > 1 && strcmp(argv[argc - 1], "--manager") == 0) {
        manager = 1;
        --argc;
    }
    const uint16_t width = (uint16_t)(argc > 3 ? atoi(argv[2]) : 320);
    const uint16_t height = (uint16_t)(argc > 3 ? atoi(argv[3]) : 240);
    xcb_connection_t* c = xcb_connect(NULL, NULL);
    if (xcb_connection_has_error(c)) return 1;
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;

    if (manager) {
        const uint32_t redirect = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT;
        xcb_generic_error_t* error = xcb_request_check(
            c, xcb_change_window_attributes_checked(c, screen->root, XCB_CW_EVENT_MASK, &redirect));
        if (error) return 2; /* another window manager runs */
    }
    const xcb_window_t w = xcb_generate_id(c);
    const uint32_t values[2] = {screen->black_pixel, XCB_EVENT_MASK_EXPOSURE};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, 60, 60, width, height, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        (uint32_t)strlen(title), title);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, 14,
                        "player\0Player");
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, w, 0, NULL);
    const xcb_atom_t wm_state = intern(c, "WM_STATE");
    xcb_map_window(c, w);
    xcb_flush(c);
    printf("%u\n", w);
    fflush(stdout);

    char line[128];
    size_t used = 0;
    uint32_t step = 0;
    double next = now();
    for (;;) {
        const double left = next - now();
        struct pollfd fds[2] = {{0, POLLIN, 0}, {xcb_get_file_descriptor(c), POLLIN, 0}};
        poll(fds, 2, left > 0 ? (int)(left * 1000) : 0);
        xcb_generic_event_t* event;
        while ((event = xcb_poll_for_event(c)))
            free(event);
        if (xcb_connection_has_error(c)) return 1;
        if (fds[0].revents & (POLLIN | POLLHUP)) {
            const ssize_t n = read(0, line + used, sizeof line - 1 - used);
            if (n <= 0) return 0;
            used += (size_t)n;
            line[used] = '\0';
            char* end;
            while ((end = strchr(line, '\n'))) {
                *end = '\0';
                if (strcmp(line, "iconify") == 0) {
                    xcb_unmap_window(c, w);
                    set_state(c, w, wm_state, 3);
                } else if (strcmp(line, "normal") == 0) {
                    set_state(c, w, wm_state, 1);
                } else if (strcmp(line, "map") == 0) {
                    xcb_map_window(c, w);
                } else if (strcmp(line, "withdraw") == 0) {
                    xcb_unmap_window(c, w);
                    set_state(c, w, wm_state, 0);
                } else if (strcmp(line, "unmap") == 0) {
                    xcb_unmap_window(c, w);
                } else if (strncmp(line, "border ", 7) == 0) {
                    const uint32_t border = (uint32_t)atoi(line + 7);
                    xcb_configure_window(c, w, XCB_CONFIG_WINDOW_BORDER_WIDTH, &border);
                }
                free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), NULL));
                printf("done\n");
                fflush(stdout);
                used -= (size_t)(end + 1 - line);
                memmove(line, end + 1, used + 1);
            }
        }
        if (now() >= next) {
            next += 0.02;
            ++step;
            // A colour that moves through every channel, never twice alike in a test's time.
            const uint32_t colour = ((step * 7u) & 0xff) << 16 | ((step * 3u) & 0xff) << 8 |
                                    ((255u - step * 5u) & 0xff);
            xcb_change_gc(c, gc, XCB_GC_FOREGROUND, &colour);
            const xcb_rectangle_t all = {0, 0, width, height};
            xcb_poly_fill_rectangle(c, w, gc, 1, &all);
            xcb_flush(c);
        }
    }
}
