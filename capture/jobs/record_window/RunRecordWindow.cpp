// The record-window job: picks one window, records it until told to stop by a
// line (or the end) of standard input, SIGINT or the longest duration, and
// reports the started and stopped events. SIGTERM and SIGHUP stop it as
// SIGINT does.
#include "jobs/Jobs.h"
#include "jobs/record_window/MovieTarget.h"
#include "jobs/record_window/PortalWindow.h"
#include "jobs/record_window/RecordWindowOptions.h"
#include "jobs/record_window/WindowChoice.h"
#include "jobs/record_window/WindowRecording.h"
#include "jobs/windows/DesktopScreenCapture.h"
#include "jobs/windows/RealWindows.h"
#include "jobs/windows/ScreenPermission.h"
#include "platform/PortalCapture.h"
#include "platform/ScreenCapture.h"
#include "platform/WindowStream.h"
#include "runtime/Queue.h"
#include "runtime/SignalSource.h"
#include "runtime/StdinLine.h"
#include "shell/Output.h"
#include "text/Utf8.h"

#include <chrono>
#include <csignal>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace quorvane::jobs {
namespace {

using jobs::record_window::WindowRecording;

// What the job shares between its tasks for the life of the process.
struct Job {
    std::unique_ptr<platform::ScreenCaptureService> screen;
    std::unique_ptr<platform::WindowCaptureService> capture;
    std::shared_ptr<WindowRecording> recording;
    std::shared_ptr<platform::PortalCaptureService> portal; // on a Wayland session
};

// Exactly one trigger goes on; it stops the capture, prints the stopped event
// and ends the process.
void stopSequence(const std::shared_ptr<WindowRecording>& recording) {
    if (!recording->beginStop()) return;
    if (auto stream = recording->stream()) {
        try {
            stream->stopCapture();
        } catch (const std::exception&) {
            // Stopping is best effort; the event is printed either way.
        }
    }
    recording->finishStopped();
}

void startStopSequence(std::shared_ptr<WindowRecording> recording) {
    runtime::startTask([recording = std::move(recording)] { stopSequence(recording); });
}

[[noreturn]] void failToStart(platform::ScreenCaptureService& screen, const std::string& why) {
    if (screen.preflightAccess()) shell::failWith("The recording could not start. " + why);
    shell::failWith(kScreenPermissionMessage);
}

void armDuration(std::shared_ptr<WindowRecording> recording, double maxSeconds) {
    const auto deadline = jobs::record_window::durationDeadline(maxSeconds);
    if (!deadline) return; // no deadline that a clock can reach
    runtime::startTask([recording = std::move(recording), after = *deadline] {
        std::this_thread::sleep_for(after);
        startStopSequence(recording);
    });
}

void recordingTask(const std::shared_ptr<Job>& job, const jobs::record_window::Options& options) {
    std::vector<platform::Window> windows;
    try {
        windows = realWindows(*job->screen);
    } catch (const platform::ScreenCaptureUnavailable& e) {
        shell::failWith(std::string("The recording could not start. ") + e.what());
    } catch (const std::exception& e) {
        failToStart(*job->screen, e.what());
    }

    auto window = jobs::record_window::chooseWindow(windows, options.windowId, options.app);
    // X11 cannot see native Wayland windows: there the picker chooses.
    if (!window && job->portal && !options.windowId) {
        // The user is asked nothing for a recording that could not be written.
        if (auto problem = jobs::record_window::movieTargetProblem(options.out))
            shell::failWith("The recording could not start. " + *problem);
        try {
            window = jobs::record_window::portalWindow(*job->portal, options.app, options.cursor);
        } catch (const platform::ScreenAccessRefused&) {
            shell::failWith(kScreenPermissionMessage);
        } catch (const platform::ScreenCaptureUnavailable& e) {
            shell::failWith(std::string("The recording could not start. ") + e.what());
        } catch (const std::exception& e) {
            failToStart(*job->screen, e.what());
        }
    }
    if (!window)
        shell::failWith("No window of " + text::validUtf8(options.app.value_or("that app")) +
                        " is open on screen. Open it first.");

    jobs::record_window::PixelSize size;
    try {
        size = job->recording->start(*window, options.fps, options.cursor);
    } catch (const std::exception& e) {
        failToStart(*job->screen, e.what());
    }

    auto started = describe(*window);
    started["width"] = size.width;
    started["height"] = size.height;
    // Nothing prints after the final line, so a started event cannot follow
    // a stop. A started event the host application never got is a recording
    // it does not know of: stop it, finish the movie and end with status 1.
    if (!shell::printEvent("started", std::move(started))) {
        if (shell::outputFailed()) startStopSequence(job->recording);
        return;
    }
    armDuration(job->recording, options.maxSeconds);
}

} // namespace

void runRecordWindow(const Args& rest) {
    // Linux has no system version to require and no activation policy: the
    // process never shows up as an application anyway.
    const auto options = jobs::record_window::readOptions(rest);
    if (!options) shell::failWith("usage: record-window --out <file> --app <name>");
    if (auto failure = jobs::record_window::outFailure(options->out)) shell::failWith(*failure);

    auto job = std::make_shared<Job>();
    if (platform::isWaylandSession()) job->portal = platform::makePortalCaptureService();
    job->screen = desktopScreenCapture(job->portal);
    job->capture = job->portal ? job->portal->captureService(platform::makeWindowCaptureService())
                               : platform::makeWindowCaptureService();
    job->recording =
        std::make_shared<WindowRecording>(options->out, *job->capture, runtime::mainQueue());

    runtime::startTask([job, options = *options] { recordingTask(job, options); });

    // Any line, or the end of input, stops the recording; later lines are never read.
    runtime::readOneStdinLine(
        [recording = job->recording](std::optional<std::string>) { startStopSequence(recording); });

    // SIGINT, SIGTERM and SIGHUP no longer end the process; each one starts
    // the stop sequence, also one sent while the module was loading. The
    // source lives as long as the process: runMainLoop never returns.
    runtime::SignalSource interrupt(
        runtime::mainQueue(), {SIGINT, SIGTERM, SIGHUP},
        [recording = job->recording](int) { startStopSequence(recording); });

    runtime::runMainLoop();
}

} // namespace quorvane::jobs
