#pragma once
// The one thing window recording keeps between runs: the desktop portal's
// restore token of the last window chosen for each `--app` text, so that the
// next recording of the same choice needs no picker.
#include <map>
#include <optional>
#include <string>

namespace quorvane::jobs::record_window {

class RestoreTokens {
  public:
    // The tokens kept in `path`; a missing or unreadable file holds none.
    explicit RestoreTokens(std::string path);

    // $XDG_STATE_HOME/quorvane/portal-choices.json, with ~/.local/state when
    // XDG_STATE_HOME is unset or not absolute; nothing without a home.
    static std::optional<std::string> defaultPath();

    // The token of the choice made for `app` (nothing: the run without --app).
    std::optional<std::string> find(const std::optional<std::string>& app) const;

    // Keeps `token` for `app`, or forgets the choice when there is none, and
    // writes the file at once (its folder made when missing). Returns false
    // when it could not be written.
    bool store(const std::optional<std::string>& app, const std::optional<std::string>& token);

  private:
    std::string path_;
    std::optional<std::string> withoutApp_;
    std::map<std::string, std::string> byApp_;
};

} // namespace quorvane::jobs::record_window
