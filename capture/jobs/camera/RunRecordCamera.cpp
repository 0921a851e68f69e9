#include "jobs/Jobs.h"
#include "jobs/camera/CameraOptions.h"
#include "jobs/camera/CameraRecording.h"
#include "platform/CameraDevices.h"
#include "runtime/Queue.h"
#include "runtime/SignalSource.h"
#include "runtime/StdinLine.h"
#include "runtime/Timer.h"
#include "shell/Output.h"
#include "shell/PlainFile.h"
#include "shell/UserError.h"
#include "text/Utf8.h"

#include <chrono>
#include <csignal>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

namespace quorvane::jobs {
namespace {

platform::CaptureDevice chooseCamera(platform::CameraDevices& devices,
                                     const CameraOptions& options) {
    if (options.camera) {
        auto camera = devices.cameraWithID(*options.camera);
        if (!camera) throw UserError("That camera is not connected. Pick another one.");
        return *camera;
    }
    if (auto camera = devices.defaultCamera()) return *camera;
    auto cameras = devices.cameras();
    if (cameras.empty()) throw UserError("No camera was found. Connect one and try again.");
    return cameras.front();
}

void checkCameraPermission(platform::CameraDevices& devices) {
    switch (devices.cameraAuthorization()) {
    case platform::CaptureAuthorization::authorized:
        return;
    case platform::CaptureAuthorization::notDetermined:
        throw UserError("Quorvane has not been allowed to use the camera yet. Start the recording "
                        "from Quorvane "
                        "so macOS can ask.");
    case platform::CaptureAuthorization::refused:
        break;
    }
    throw UserError("Quorvane is not allowed to use the camera. Allow it in System Settings, "
                    "Privacy & Security, "
                    "Camera.");
}

// The devices of a recording, chosen before anything is touched.
struct Devices {
    platform::CaptureDevice camera;
    std::optional<platform::CaptureDevice> microphone;
};

Devices chooseDevices(const CameraOptions& options, platform::CameraDevices& devices) {
    checkCameraPermission(devices);
    auto camera = chooseCamera(devices, options);
    // A refused or missing microphone only means a silent movie.
    std::optional<platform::CaptureDevice> microphone;
    if (options.mic &&
        devices.microphoneAuthorization() == platform::CaptureAuthorization::authorized)
        microphone = devices.defaultMicrophone();
    devices.prohibitActivation();
    return {std::move(camera), std::move(microphone)};
}

std::shared_ptr<CameraRecording> makeRecording(const CameraOptions& options, Devices chosen) {
    try {
        return std::make_shared<CameraRecording>(
            options.out, options.size, std::move(chosen.camera), std::move(chosen.microphone));
    } catch (const std::exception& error) {
        throw UserError(std::string("The camera recording could not start. ") + error.what());
    }
}

std::optional<std::string> reasonFor(platform::CaptureNotice notice,
                                     const std::string& description) {
    switch (notice) {
    case platform::CaptureNotice::runtimeError:
        return "The camera stopped working. " + description;
    case platform::CaptureNotice::deviceDisconnected:
        return "The camera was disconnected.";
    case platform::CaptureNotice::interrupted:
        return "Another app took the camera.";
    }
    return std::nullopt;
}

// Everything that runs once the recording exists, on the main queue: the
// device notices, the checks and timers, the start and the stdin reader.
struct LiveRecording {
    std::shared_ptr<CameraRecording> recording;
    runtime::Timer noPictureCheck{runtime::mainQueue()};
    runtime::Timer stallCheck{runtime::mainQueue()};
    runtime::Timer maximumLength{runtime::mainQueue()};

    LiveRecording(std::shared_ptr<CameraRecording> made, double maxSeconds)
        : recording(std::move(made)) {
        CameraRecording& camera = *recording;
        camera.observeSession(
            [&camera](platform::CaptureNotice notice, const std::string& description) {
                camera.stop(reasonFor(notice, description));
            });
        using Seconds = std::chrono::duration<double>;
        noPictureCheck.once(std::chrono::seconds(10), [&camera] { camera.checkStarted(); });
        // A camera can go quiet without an error (a USB stall, a driver that
        // stops): once pictures have been written, a long gap ends the recording.
        stallCheck.repeat(std::chrono::milliseconds(500), [&camera] { camera.checkStalled(); });
        maximumLength.once(
            std::chrono::duration_cast<std::chrono::nanoseconds>(Seconds(maxSeconds)),
            [&camera] { camera.stop(); });
        camera.start();
        runtime::readOneStdinLine([&camera](const std::optional<std::string>&) { camera.stop(); });
    }
};

} // namespace

void runRecordCamera(const Args& rest) {
    CameraOptions options;
    try {
        options = readCameraOptions(rest);
    } catch (const UserError& error) {
        shell::failWith(error.what());
    }
    // A pipe, a device or a standard stream as the movie would block the
    // writer or be removed and replaced: refused before any device is touched.
    if (const auto why = shell::whyNotWritable(options.out))
        shell::failWith("The video file could not be written. " + *why,
                        json::Object{{"file", text::validUtf8(options.out)}});

    // Set on the main queue once the recording exists; read only there.
    std::unique_ptr<LiveRecording> live;
    // How far the set-up has got, for a stop signal that comes before `live`.
    struct SetUp {
        std::mutex lock;
        enum class Stage { choosing, creating, made } stage = Stage::choosing;
        bool stopAsked = false;
    } setUp;

    // Each of these signals asks for an orderly stop instead of ending the
    // process. They act during the set-up too, which a sound server that
    // does not answer can hold for a while: while devices are chosen nothing
    // has been touched and the job ends at once; once the recording is being
    // made (it clears --out), it stops as soon as it exists.
    std::vector<std::unique_ptr<runtime::SignalSource>> cameraSignalSources;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        cameraSignalSources.push_back(std::make_unique<runtime::SignalSource>(
            runtime::mainQueue(), std::initializer_list<int>{signal}, [&live, &setUp](int) {
                if (live) {
                    live->recording->stop();
                    return;
                }
                std::lock_guard held(setUp.lock);
                if (setUp.stage == SetUp::Stage::choosing)
                    shell::failWith("The recording stopped before the camera sent a picture.");
                setUp.stopAsked = true;
            }));

    // The set-up waits on devices: the main queue stays free for the signals.
    runtime::startTask([&live, &setUp, options] {
        std::shared_ptr<CameraRecording> recording;
        try {
            auto devices = platform::makeCameraDevices();
            auto chosen = chooseDevices(options, *devices);
            {
                std::lock_guard held(setUp.lock);
                setUp.stage = SetUp::Stage::creating;
            }
            recording = makeRecording(options, std::move(chosen));
        } catch (const UserError& error) {
            shell::failWith(error.what());
        }
        std::lock_guard held(setUp.lock);
        setUp.stage = SetUp::Stage::made;
        runtime::mainQueue().async([&live, &setUp, recording, maxSeconds = options.maxSeconds] {
            live = std::make_unique<LiveRecording>(recording, maxSeconds);
            std::lock_guard held(setUp.lock);
            if (setUp.stopAsked) live->recording->stop();
        });
    });

    runtime::runMainLoop();
}

} // namespace quorvane::jobs
