#include "jobs/record_window/PortalWindow.h"

#include "jobs/record_window/RestoreTokens.h"

namespace quorvane::jobs::record_window {

platform::Window portalWindow(platform::PortalCaptureService& portal,
                              const std::optional<std::string>& app, bool cursor) {
    const auto path = RestoreTokens::defaultPath();
    std::optional<RestoreTokens> tokens;
    if (path) tokens.emplace(*path);
    auto chosen = portal.chooseWindow(tokens ? tokens->find(app) : std::nullopt, cursor);
    // A token is good for one run: the next run needs the one just given.
    if (tokens) tokens->store(app, chosen.restoreToken);
    return chosen.window;
}

} // namespace quorvane::jobs::record_window
