#pragma once
// The desktop portal's ScreenCast interface over one private D-Bus
// connection: what it offers, and one session from CreateSession to the
// PipeWire remote of its stream.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quorvane::backends::portal {

// Source types and cursor modes as the portal numbers them (bit masks).
inline constexpr std::uint32_t kWindowSource = 2;
inline constexpr std::uint32_t kCursorHidden = 1;
inline constexpr std::uint32_t kCursorEmbedded = 2;
inline constexpr std::uint32_t kCursorMetadata = 4;
// Keep the choice until it is revoked, across runs.
inline constexpr std::uint32_t kPersistUntilRevoked = 2;

struct Offer {
    std::uint32_t sourceTypes = 0;
    std::uint32_t cursorModes = 0;
};

// What Start answered for the chosen window's stream.
struct StartedCast {
    std::uint32_t node = 0;
    std::optional<std::pair<int, int>> position; // in the desktop, when told
    std::optional<std::pair<int, int>> size;     // the stream's size, when told
    std::optional<std::string> restoreToken;
};

// How long each step may take before it counts as refused: the picker
// waits for a person, the other steps only for the desktop.
struct Timeouts {
    std::chrono::milliseconds call{std::chrono::seconds(20)};
    std::chrono::milliseconds picker{std::chrono::minutes(2)};
};

class ScreenCastPortal {
  public:
    // Connects to the session bus. Throws platform::ScreenCaptureError.
    static std::unique_ptr<ScreenCastPortal> connect(Timeouts timeouts = {});
    virtual ~ScreenCastPortal() = default;

    // The portal's offer; nothing when the portal does not answer.
    virtual std::optional<Offer> offer() = 0;

    // CreateSession, SelectSources (one window, `cursorMode`, kept until
    // revoked, `restoreToken` when given) and Start. Throws
    // platform::ScreenAccessRefused when the user or the desktop says no or
    // no answer comes in time, platform::ScreenCaptureError otherwise.
    virtual StartedCast start(std::uint32_t cursorMode,
                              const std::optional<std::string>& restoreToken) = 0;

    // The PipeWire remote of the started session (a new descriptor).
    // Throws platform::ScreenCaptureError.
    virtual int openPipeWireRemote() = 0;

    // Ends the session (the desktop then stops its stream). Safe to call
    // more than once, and before a session exists.
    virtual void close() = 0;

    // Runs `closed` once, on a thread of the portal's own, when the desktop
    // closes the started session: the user stopped sharing in the
    // desktop's own controls, or the desktop ended the cast. Never after
    // close(). Call after start().
    virtual void onClosed(std::function<void()> closed) = 0;
};

} // namespace quorvane::backends::portal
