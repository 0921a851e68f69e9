#include "jobs/record_window/RestoreTokens.h"

#include "jobs/record_window/ClickLog.h"
#include "shell/PlainFile.h"
#include "json/Writer.h"

#include <simdjson.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorvane::jobs::record_window {
namespace {

std::optional<std::string> homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home == '/') return std::string(home);
    if (const passwd* entry = ::getpwuid(::getuid());
        entry && entry->pw_dir && *entry->pw_dir == '/')
        return std::string(entry->pw_dir);
    return std::nullopt;
}

// Makes `folder` and its missing parents, private to the user.
bool makeFolders(const std::filesystem::path& folder) {
    std::filesystem::path built;
    for (const auto& part : folder) {
        built /= part;
        if (::mkdir(built.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return std::filesystem::is_directory(folder);
}

} // namespace

RestoreTokens::RestoreTokens(std::string path) : path_(std::move(path)) {
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    // A pipe in its place would keep the load waiting forever.
    if (!shell::isPlainFile(path_) || parser.load(path_).get(root) != simdjson::SUCCESS) return;
    std::string_view token;
    if (root["withoutApp"].get_string().get(token) == simdjson::SUCCESS)
        withoutApp_ = std::string(token);
    simdjson::dom::object apps;
    if (root["apps"].get_object().get(apps) != simdjson::SUCCESS) return;
    for (auto [app, value] : apps) {
        if (value.get_string().get(token) == simdjson::SUCCESS)
            byApp_[std::string(app)] = std::string(token);
    }
}

std::optional<std::string> RestoreTokens::defaultPath() {
    std::filesystem::path state;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg == '/') {
        state = xdg;
    } else if (const auto home = homeFolder()) {
        state = std::filesystem::path(*home) / ".local" / "state";
    } else {
        return std::nullopt;
    }
    return (state / "quorvane" / "portal-choices.json").string();
}

std::optional<std::string> RestoreTokens::find(const std::optional<std::string>& app) const {
    if (!app) return withoutApp_;
    const auto it = byApp_.find(*app);
    if (it == byApp_.end()) return std::nullopt;
    return it->second;
}

bool RestoreTokens::store(const std::optional<std::string>& app,
                          const std::optional<std::string>& token) {
    if (!app)
        withoutApp_ = token;
    else if (token)
        byApp_[*app] = *token;
    else
        byApp_.erase(*app);

    json::Object apps;
    for (const auto& [name, value] : byApp_)
        apps[name] = value;
    json::Object file{{"version", 1}, {"apps", std::move(apps)}};
    if (withoutApp_) file["withoutApp"] = *withoutApp_;
    const auto text = json::trySerialize(file);
    if (!text) return false;
    if (!makeFolders(std::filesystem::path(path_).parent_path())) return false;
    return clicklog::writeAtomically(path_, *text);
}

} // namespace quorvane::jobs::record_window
