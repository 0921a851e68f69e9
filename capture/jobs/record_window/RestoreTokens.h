#pragma once
// The one thing window recording keeps between runs: the desktop portal's
// restore token of the last window chosen for each `--app` text, so that the
// next recording of the same choice needs no picker.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::jobs::record_window {

class RestoreTokens {
  public:
    // How many choices are kept: the most recently made.
    static constexpr std::size_t kMaxChoices = 32;

    // The tokens kept in `path`; a missing or unreadable file holds none.
    explicit RestoreTokens(std::string path);

    // $XDG_STATE_HOME/quorvane/portal-choices.json, with ~/.local/state when
    // XDG_STATE_HOME is unset or not absolute; nothing without a home.
    static std::optional<std::string> defaultPath();

    // The token of the choice made for `app` (nothing: the run without --app).
    std::optional<std::string> find(const std::optional<std::string>& app) const;

    // Keeps `token` for `app` as the newest choice, or forgets the choice
    // when there is none. The file is read again and rewritten whole under
    // a lock beside it, so that runs at the same time keep each other's
    // choices; it is replaced atomically and readable by the user alone
    // (its folder made when missing). Returns false when it could not be
    // written; the file is then as it was.
    bool store(const std::optional<std::string>& app, const std::optional<std::string>& token);

  private:
    struct Choice {
        std::optional<std::string> app; // nothing: the run without --app
        std::string token;
    };

    void read();
    std::optional<std::string> text() const;

    std::string path_;
    std::vector<Choice> choices_; // the newest first
};

} // namespace quorvane::jobs::record_window
