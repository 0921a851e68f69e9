#include "jobs/record_window/RestoreTokens.h"

#include "io/UniqueFd.h"
#include "jobs/record_window/ClickLog.h"
#include "shell/PlainFile.h"
#include "json/Writer.h"

#include <simdjson.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace quorvane::jobs::record_window {
namespace {

// How long a run waits for another one's update before it gives up storing.
constexpr auto kLockPatience = std::chrono::seconds(2);

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
    std::error_code error;
    return std::filesystem::is_directory(folder, error);
}

// An exclusive lock on `path` (made when missing, the user's alone), held
// while the returned descriptor is open; none after kLockPatience.
io::UniqueFd lockFile(const std::string& path) {
    io::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) return fd;
    const auto deadline = std::chrono::steady_clock::now() + kLockPatience;
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) ||
            std::chrono::steady_clock::now() >= deadline)
            return io::UniqueFd();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return fd;
}

} // namespace

RestoreTokens::RestoreTokens(std::string path) : path_(std::move(path)) {
    read();
}

void RestoreTokens::read() {
    choices_.clear();
    simdjson::dom::parser parser;
    simdjson::dom::element root;
    // A pipe in its place would keep the load waiting forever.
    if (!shell::isPlainFile(path_) || parser.load(path_).get(root) != simdjson::SUCCESS) return;
    std::string_view token;
    simdjson::dom::array list;
    if (root["choices"].get_array().get(list) == simdjson::SUCCESS) {
        for (auto entry : list) {
            if (entry["token"].get_string().get(token) != simdjson::SUCCESS) continue;
            Choice choice{std::nullopt, std::string(token)};
            std::string_view app;
            if (entry["app"].get_string().get(app) == simdjson::SUCCESS) choice.app = app;
            if (!find(choice.app)) choices_.push_back(std::move(choice));
        }
        return;
    }
    // The first form of the file: one object of app texts, unordered.
    if (root["withoutApp"].get_string().get(token) == simdjson::SUCCESS)
        choices_.push_back(Choice{std::nullopt, std::string(token)});
    simdjson::dom::object apps;
    if (root["apps"].get_object().get(apps) != simdjson::SUCCESS) return;
    for (auto [app, value] : apps) {
        if (value.get_string().get(token) == simdjson::SUCCESS)
            choices_.push_back(Choice{std::string(app), std::string(token)});
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
    for (const auto& choice : choices_)
        if (choice.app == app) return choice.token;
    return std::nullopt;
}

std::optional<std::string> RestoreTokens::text() const {
    json::Array list;
    for (const auto& choice : choices_) {
        json::Object entry{{"token", choice.token}};
        if (choice.app) entry["app"] = *choice.app;
        list.emplace_back(std::move(entry));
    }
    return json::trySerialize(json::Object{{"version", 2}, {"choices", std::move(list)}});
}

bool RestoreTokens::store(const std::optional<std::string>& app,
                          const std::optional<std::string>& token) {
    if (!makeFolders(std::filesystem::path(path_).parent_path())) return false;
    const io::UniqueFd lock = lockFile(path_ + ".lock");
    if (!lock) return false;
    // What other runs stored since this one read the file stays.
    read();
    std::erase_if(choices_, [&](const Choice& c) { return c.app == app; });
    if (token) choices_.insert(choices_.begin(), Choice{app, *token});
    if (choices_.size() > kMaxChoices) choices_.resize(kMaxChoices);
    const auto bytes = text();
    return bytes && clicklog::writeAtomically(path_, *bytes, true, 0600);
}

} // namespace quorvane::jobs::record_window
