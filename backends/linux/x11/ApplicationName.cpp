#include "x11/ApplicationName.h"

#include "text/Utf8.h"
#include "x11/TextProperty.h"

#include <xcb/res.h>

#include <fstream>
#include <unistd.h>

namespace quorvane::backends::x11 {
namespace {

std::optional<std::string> classPart(const XcbConnection& connection, xcb_window_t client) {
    const auto wmClass = connection.property(client, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING);
    if (!wmClass || wmClass->format != 8) return std::nullopt;
    // "instance\0class\0"
    const std::string& bytes = wmClass->bytes;
    const auto firstEnd = bytes.find('\0');
    if (firstEnd == std::string::npos) return std::nullopt;
    const auto classEnd = bytes.find('\0', firstEnd + 1);
    std::string name = bytes.substr(
        firstEnd + 1, classEnd == std::string::npos ? std::string::npos : classEnd - firstEnd - 1);
    if (name.empty()) return std::nullopt;
    return latin1ToUtf8(name);
}

// Whether WM_CLIENT_MACHINE, when set, names this machine: a process id is
// only meaningful on the machine that made the window.
bool madeOnThisMachine(const XcbConnection& connection, xcb_window_t client) {
    const auto machine = connection.property(client, XCB_ATOM_WM_CLIENT_MACHINE);
    if (!machine || machine->format != 8) return true;
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) return true;
    const std::string name = machine->bytes.substr(0, machine->bytes.find('\0'));
    return name == host;
}

std::optional<pid_t> pidFromResource(const XcbConnection& connection, xcb_window_t client) {
    const xcb_query_extension_reply_t* extension =
        xcb_get_extension_data(connection.get(), &xcb_res_id);
    if (extension == nullptr || !extension->present) return std::nullopt;
    xcb_res_client_id_spec_t spec{client, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_res_query_client_ids_reply_t> reply(xcb_res_query_client_ids_reply(
        connection.get(), xcb_res_query_client_ids(connection.get(), 1, &spec), &error));
    Reply<xcb_generic_error_t> ownedError(error);
    if (!reply) return std::nullopt;
    for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem > 0;
         xcb_res_client_id_value_next(&it)) {
        if ((it.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) == 0) continue;
        if (xcb_res_client_id_value_value_length(it.data) < 1) continue;
        const std::uint32_t pid = *xcb_res_client_id_value_value(it.data);
        if (pid > 0) return static_cast<pid_t>(pid);
    }
    return std::nullopt;
}

std::optional<std::string> processName(pid_t pid) {
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    if (!comm || !std::getline(comm, name) || name.empty()) return std::nullopt;
    return text::validUtf8(name);
}

} // namespace

std::optional<pid_t> owningProcess(const XcbConnection& connection, xcb_window_t client) {
    const auto wmPid =
        connection.property(client, connection.atom("_NET_WM_PID"), XCB_ATOM_CARDINAL);
    if (wmPid && madeOnThisMachine(connection, client)) {
        const auto items = wmPid->items32();
        if (!items.empty() && items.front() > 0) return static_cast<pid_t>(items.front());
    }
    return pidFromResource(connection, client);
}

std::optional<std::string> applicationName(const XcbConnection& connection, xcb_window_t client) {
    if (auto name = classPart(connection, client)) return name;
    if (const auto pid = owningProcess(connection, client)) return processName(*pid);
    return std::nullopt;
}

} // namespace quorvane::backends::x11
