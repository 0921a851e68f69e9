#include "x11/WindowList.h"

#include "x11/ApplicationName.h"
#include "x11/TextProperty.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace quorvane::backends::x11 {
namespace {

constexpr std::uint32_t kIconicState = 3; // WM_STATE

// Window levels, ordered as a desktop stacks them; 0 is the ordinary level.
constexpr std::int64_t kFloatingLayer = 3;
constexpr std::int64_t kDockLayer = 20;
constexpr std::int64_t kNotificationLayer = 23;
constexpr std::int64_t kMenuLayer = 101;
constexpr std::int64_t kTooltipLayer = 1000;

struct Atoms {
    xcb_atom_t supportingWmCheck, clientListStacking, wmState, netWmState, hidden, above, wmName,
        netWmName, utf8String, windowType, typeDesktop, typeNormal, typeDialog, typeDock,
        typeToolbar, typeMenu, typeUtility, typeSplash, typeDropdown, typePopup, typeTooltip,
        typeNotification, typeCombo, typeDnd;

    explicit Atoms(const XcbConnection& c) {
        const auto a = c.atoms({"_NET_SUPPORTING_WM_CHECK",
                                "_NET_CLIENT_LIST_STACKING",
                                "WM_STATE",
                                "_NET_WM_STATE",
                                "_NET_WM_STATE_HIDDEN",
                                "_NET_WM_STATE_ABOVE",
                                "WM_NAME",
                                "_NET_WM_NAME",
                                "UTF8_STRING",
                                "_NET_WM_WINDOW_TYPE",
                                "_NET_WM_WINDOW_TYPE_DESKTOP",
                                "_NET_WM_WINDOW_TYPE_NORMAL",
                                "_NET_WM_WINDOW_TYPE_DIALOG",
                                "_NET_WM_WINDOW_TYPE_DOCK",
                                "_NET_WM_WINDOW_TYPE_TOOLBAR",
                                "_NET_WM_WINDOW_TYPE_MENU",
                                "_NET_WM_WINDOW_TYPE_UTILITY",
                                "_NET_WM_WINDOW_TYPE_SPLASH",
                                "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
                                "_NET_WM_WINDOW_TYPE_POPUP_MENU",
                                "_NET_WM_WINDOW_TYPE_TOOLTIP",
                                "_NET_WM_WINDOW_TYPE_NOTIFICATION",
                                "_NET_WM_WINDOW_TYPE_COMBO",
                                "_NET_WM_WINDOW_TYPE_DND"});
        xcb_atom_t* fields[] = {&supportingWmCheck,
                                &clientListStacking,
                                &wmState,
                                &netWmState,
                                &hidden,
                                &above,
                                &wmName,
                                &netWmName,
                                &utf8String,
                                &windowType,
                                &typeDesktop,
                                &typeNormal,
                                &typeDialog,
                                &typeDock,
                                &typeToolbar,
                                &typeMenu,
                                &typeUtility,
                                &typeSplash,
                                &typeDropdown,
                                &typePopup,
                                &typeTooltip,
                                &typeNotification,
                                &typeCombo,
                                &typeDnd};
        for (std::size_t i = 0; i < a.size(); ++i)
            *fields[i] = a[i];
    }
};

std::optional<xcb_window_t> firstWindow(const XcbConnection& c, xcb_window_t window,
                                        xcb_atom_t property) {
    const auto value = c.property(window, property, XCB_ATOM_WINDOW);
    if (!value) return std::nullopt;
    const auto items = value->items32();
    if (items.empty()) return std::nullopt;
    return items.front();
}

// An EWMH window manager runs when the root's check window names itself;
// a check window left behind by a manager that has gone does not count.
bool windowManagerRuns(const XcbConnection& c, const Atoms& atoms) {
    const auto check = firstWindow(c, c.root(), atoms.supportingWmCheck);
    return check && firstWindow(c, *check, atoms.supportingWmCheck) == check;
}

std::optional<std::vector<xcb_window_t>> managedStacking(const XcbConnection& c,
                                                         const Atoms& atoms) {
    const auto list = c.property(c.root(), atoms.clientListStacking, XCB_ATOM_WINDOW);
    if (!list) return std::nullopt;
    auto windows = list->items32();
    std::reverse(windows.begin(), windows.end()); // bottom→top to front-most first
    return windows;
}

std::vector<xcb_window_t> children(const XcbConnection& c, xcb_window_t window) {
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(c.get(), xcb_query_tree(c.get(), window), &error));
    Reply<xcb_generic_error_t> ownedError(error);
    if (!tree) return {};
    const xcb_window_t* first = xcb_query_tree_children(tree.get());
    return {first, first + xcb_query_tree_children_length(tree.get())};
}

Reply<xcb_get_window_attributes_reply_t> attributes(const XcbConnection& c, xcb_window_t window) {
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_get_window_attributes_reply_t> reply(xcb_get_window_attributes_reply(
        c.get(), xcb_get_window_attributes(c.get(), window), &error));
    Reply<xcb_generic_error_t> ownedError(error);
    return reply;
}

// The client inside a top-level window: itself, or (under a window manager
// without EWMH) the descendant carrying WM_STATE.
xcb_window_t clientOf(const XcbConnection& c, const Atoms& atoms, xcb_window_t topLevel) {
    if (c.property(topLevel, atoms.wmState)) return topLevel;
    std::vector<xcb_window_t> level = children(c, topLevel);
    for (int depth = 0; depth < 4 && !level.empty(); ++depth) {
        std::vector<xcb_window_t> next;
        for (const xcb_window_t w : level) {
            if (c.property(w, atoms.wmState)) return w;
            const auto below = children(c, w);
            next.insert(next.end(), below.begin(), below.end());
        }
        level = std::move(next);
    }
    return topLevel;
}

// Without an EWMH manager: the root's children, bottom→top, that show on
// screen and take part in window management.
std::vector<xcb_window_t> unmanagedStacking(const XcbConnection& c, const Atoms& atoms) {
    std::vector<xcb_window_t> clients;
    for (const xcb_window_t w : children(c, c.root())) {
        const auto attrs = attributes(c, w);
        if (!attrs || attrs->map_state != XCB_MAP_STATE_VIEWABLE ||
            attrs->_class != XCB_WINDOW_CLASS_INPUT_OUTPUT || attrs->override_redirect) {
            continue;
        }
        clients.push_back(clientOf(c, atoms, w));
    }
    std::reverse(clients.begin(), clients.end());
    return clients;
}

bool hasAtom(const std::vector<std::uint32_t>& list, xcb_atom_t atom) {
    return atom != XCB_ATOM_NONE && std::find(list.begin(), list.end(), atom) != list.end();
}

// The layer of a window from its type (the first type this list knows) and
// its state; nothing for desktop windows, which are not listed.
std::optional<std::int64_t> layerOf(const Atoms& atoms, const std::vector<std::uint32_t>& types,
                                    const std::vector<std::uint32_t>& states) {
    std::int64_t layer = 0;
    for (const xcb_atom_t type : types) {
        if (type == XCB_ATOM_NONE) continue;
        if (type == atoms.typeDesktop) return std::nullopt;
        if (type == atoms.typeNormal || type == atoms.typeDialog) break;
        if (type == atoms.typeDock)
            layer = kDockLayer;
        else if (type == atoms.typeToolbar || type == atoms.typeUtility || type == atoms.typeSplash)
            layer = kFloatingLayer;
        else if (type == atoms.typeMenu || type == atoms.typeDropdown || type == atoms.typePopup ||
                 type == atoms.typeCombo || type == atoms.typeDnd)
            layer = kMenuLayer;
        else if (type == atoms.typeNotification)
            layer = kNotificationLayer;
        else if (type == atoms.typeTooltip)
            layer = kTooltipLayer;
        else
            continue; // a type of some other desktop: look at the next
        break;
    }
    if (layer == 0 && hasAtom(states, atoms.above)) layer = kFloatingLayer;
    return layer;
}

std::optional<std::string> titleOf(const XcbConnection& c, const Atoms& atoms, xcb_window_t w) {
    if (const auto name = c.property(w, atoms.netWmName, atoms.utf8String)) {
        if (auto text = decodeText(c, *name)) return text;
    }
    if (const auto name = c.property(w, atoms.wmName)) return decodeText(c, *name);
    return std::nullopt;
}

// The client's area in root coordinates (inside its border), in pixels.
std::optional<platform::Rect> frameOf(const XcbConnection& c, xcb_window_t w) {
    const auto geometryCookie = xcb_get_geometry(c.get(), w);
    const auto originCookie = xcb_translate_coordinates(c.get(), w, c.root(), 0, 0);
    xcb_generic_error_t* geometryError = nullptr;
    Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c.get(), geometryCookie, &geometryError));
    Reply<xcb_generic_error_t> ownedGeometryError(geometryError);
    xcb_generic_error_t* originError = nullptr;
    Reply<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(c.get(), originCookie, &originError));
    Reply<xcb_generic_error_t> ownedOriginError(originError);
    if (!geometry || !origin) return std::nullopt;
    return platform::Rect{static_cast<double>(origin->dst_x), static_cast<double>(origin->dst_y),
                          static_cast<double>(geometry->width),
                          static_cast<double>(geometry->height)};
}

// One client as a listed window; nothing when it is not on screen, is a
// desktop window, or vanished.
std::optional<platform::Window> describeClient(const XcbConnection& c, const Atoms& atoms,
                                               xcb_window_t client) {
    const auto attrs = attributes(c, client);
    if (!attrs || attrs->map_state != XCB_MAP_STATE_VIEWABLE) return std::nullopt;
    if (const auto state = c.property(client, atoms.wmState, atoms.wmState)) {
        const auto items = state->items32();
        if (!items.empty() && items.front() == kIconicState) return std::nullopt;
    }
    std::vector<std::uint32_t> states;
    if (const auto value = c.property(client, atoms.netWmState, XCB_ATOM_ATOM)) {
        states = value->items32();
    }
    if (hasAtom(states, atoms.hidden)) return std::nullopt;
    std::vector<std::uint32_t> types;
    if (const auto value = c.property(client, atoms.windowType, XCB_ATOM_ATOM)) {
        types = value->items32();
    }
    const auto layer = layerOf(atoms, types, states);
    if (!layer) return std::nullopt;
    const auto frame = frameOf(c, client);
    if (!frame) return std::nullopt;

    platform::Window window;
    window.windowID = client;
    window.frame = *frame;
    window.windowLayer = *layer;
    window.title = titleOf(c, atoms, client);
    if (auto name = applicationName(c, client)) {
        window.owningApplication = platform::OwningApplication{std::move(*name)};
    }
    return window;
}

} // namespace

std::vector<platform::Window> listWindows(const XcbConnection& connection) {
    const Atoms atoms(connection);
    std::optional<std::vector<xcb_window_t>> clients;
    if (windowManagerRuns(connection, atoms)) clients = managedStacking(connection, atoms);
    if (!clients) clients = unmanagedStacking(connection, atoms);

    std::vector<platform::Window> windows;
    for (const xcb_window_t client : *clients) {
        if (auto window = describeClient(connection, atoms, client)) {
            windows.push_back(std::move(*window));
        }
    }
    return windows;
}

} // namespace quorvane::backends::x11
