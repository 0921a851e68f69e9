// Cameras are the V4L2 video-capture nodes, /dev/video0, /dev/video1, …
#include "platform/CameraDevices.h"
#include "v4l2/Microphone.h"
#include "v4l2/V4l2Node.h"

#include "text/Utf8.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>

namespace quorvane::backends::v4l2 {
namespace {

using namespace platform;

namespace fs = std::filesystem;

struct Node {
    int number = 0;
    std::string path;
};

std::vector<Node> videoNodes() {
    std::vector<Node> nodes;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/dev", ec)) {
        const auto name = entry.path().filename().string();
        if (name.rfind("video", 0) != 0 || name.size() == 5) continue;
        const auto digits = name.substr(5);
        if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        if (digits.size() > 6) continue;
        nodes.push_back({std::stoi(digits), entry.path().string()});
    }
    std::sort(nodes.begin(), nodes.end(),
              [](const Node& a, const Node& b) { return a.number < b.number; });
    return nodes;
}

// The names udev gives each node under /dev/v4l/by-id, which stay the same
// across reboots and ports.
std::map<std::string, std::string> stableNames() {
    std::map<std::string, std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/dev/v4l/by-id", ec)) {
        std::error_code rc;
        const auto target = fs::canonical(entry.path(), rc);
        if (!rc) names.emplace(target.string(), entry.path().filename().string());
    }
    return names;
}

std::string sysfsText(const Node& node, const char* file) {
    std::ifstream in("/sys/class/video4linux/video" + std::to_string(node.number) + "/" + file);
    std::string line;
    std::getline(in, line);
    return line;
}

std::vector<CaptureDevice> discoverCameras() {
    std::vector<CaptureDevice> cameras;
    const auto names = stableNames();
    for (const auto& node : videoNodes()) {
        CaptureDevice camera;
        camera.address = node.path;
        std::string busInfo;
        if (auto fd = backends::v4l2::openNode(node.path)) {
            const auto info = backends::v4l2::queryNode(fd.get());
            if (!info || !info->captures) continue;
            camera.localizedName = info->card;
            busInfo = info->busInfo;
        } else {
            // Not ours to open: list the device's first node by the name
            // the kernel publishes, so a refused camera still shows.
            if (sysfsText(node, "index") != "0") continue;
            camera.localizedName = sysfsText(node, "name");
            busInfo = node.path;
        }
        std::error_code ec;
        const auto stable = names.find(fs::canonical(node.path, ec).string());
        camera.uniqueID =
            stable != names.end() ? stable->second : busInfo + ":" + camera.localizedName;
        // Card names are cut at 32 bytes, often inside a character, and some
        // are Latin-1. The id is made valid here, as it is listed, so that
        // `--camera` with a listed id finds the same camera again.
        camera.localizedName = text::validUtf8(camera.localizedName);
        camera.uniqueID = text::validUtf8(camera.uniqueID);
        cameras.push_back(std::move(camera));
    }
    return cameras;
}

class V4l2CameraDevices final : public CameraDevices {
  public:
    std::vector<CaptureDevice> cameras() override { return discoverCameras(); }

    std::optional<CaptureDevice> cameraWithID(const std::string& uniqueID) override {
        for (auto& camera : discoverCameras())
            if (camera.uniqueID == uniqueID) return camera;
        return std::nullopt;
    }

    std::optional<CaptureDevice> defaultCamera() override {
        auto cameras = discoverCameras();
        if (cameras.empty()) return std::nullopt;
        return cameras.front();
    }

    std::optional<CaptureDevice> defaultMicrophone() override { return microphone(); }

    CaptureAuthorization cameraAuthorization() override {
        bool refused = false;
        for (const auto& node : videoNodes()) {
            if (backends::v4l2::openNode(node.path)) return CaptureAuthorization::authorized;
            if (errno == EACCES || errno == EPERM) refused = true;
        }
        return refused ? CaptureAuthorization::refused : CaptureAuthorization::authorized;
    }

    CaptureAuthorization microphoneAuthorization() override {
        return microphone() ? CaptureAuthorization::authorized : CaptureAuthorization::refused;
    }

    // A process with no window has no place in the desktop's switcher.
    void prohibitActivation() override {}

  private:
    // Looked for once: each look may wait for a sound server up to the
    // opening deadline.
    const std::optional<CaptureDevice>& microphone() {
        if (!microphone_) microphone_ = backends::v4l2::findMicrophone();
        return *microphone_;
    }

    std::optional<std::optional<CaptureDevice>> microphone_;
};

} // namespace
} // namespace quorvane::backends::v4l2

namespace quorvane::platform {

using namespace backends::v4l2;

std::unique_ptr<CameraDevices> makeCameraDevices() {
    return std::make_unique<V4l2CameraDevices>();
}

} // namespace quorvane::platform
