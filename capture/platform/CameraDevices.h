#pragma once
// Which cameras and microphones there are, and whether this process may use
// them. Listing needs no permission.
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::platform {

enum class CaptureAuthorization { notDetermined, authorized, refused };

// A camera or a microphone as the platform names it.
struct CaptureDevice {
    std::string uniqueID;      // stable across reboots and replugging
    std::string localizedName; // for people
    std::string address;       // the platform's own handle (device node, source name)
};

class CameraDevices {
  public:
    virtual ~CameraDevices() = default;

    // Every camera that can be recorded, in the platform's discovery order.
    virtual std::vector<CaptureDevice> cameras() = 0;
    virtual std::optional<CaptureDevice> cameraWithID(const std::string& uniqueID) = 0;
    virtual std::optional<CaptureDevice> defaultCamera() = 0;
    virtual std::optional<CaptureDevice> defaultMicrophone() = 0;

    // Never asks the user.
    virtual CaptureAuthorization cameraAuthorization() = 0;
    virtual CaptureAuthorization microphoneAuthorization() = 0;

    // Keeps the process out of the desktop's application switcher.
    virtual void prohibitActivation() = 0;
};

std::unique_ptr<CameraDevices> makeCameraDevices();

} // namespace quorvane::platform
