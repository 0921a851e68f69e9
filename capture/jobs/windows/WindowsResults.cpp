#include "jobs/windows/WindowsResults.h"

#include "jobs/windows/RealWindows.h"
#include "jobs/windows/ScreenPermission.h"
#include "platform/PortalOffer.h"

#include <exception>
#include <string>

namespace quorvane::jobs::windows {

JobResult windowsResult(platform::ScreenCaptureService& service) {
    std::vector<platform::Window> windows;
    try {
        windows = realWindows(service);
    } catch (const platform::ScreenCaptureUnavailable& failure) {
        // No permission would help: the desktop's own reason.
        return {{{"ok", false}, {"error", std::string(failure.what())}}, 1};
    } catch (const std::exception& failure) {
        const std::string message =
            service.preflightAccess() ? failure.what() : std::string(kScreenPermissionMessage);
        return {{{"ok", false}, {"error", message}}, 1};
    }
    json::Array descriptions;
    descriptions.reserve(windows.size());
    for (const auto& window : windows)
        descriptions.emplace_back(describe(window));
    return {{{"ok", true}, {"windows", std::move(descriptions)}}, 0};
}

JobResult screenAccessResult(platform::ScreenCaptureService& service, const Args& rest) {
    bool granted = service.preflightAccess();
    if (!granted && !rest.empty() && rest.front() == "ask") granted = service.requestAccess();
    return {{{"ok", true}, {"granted", granted}}, 0};
}

} // namespace quorvane::jobs::windows
