#pragma once
// Samples the mouse pointer sixty times a second while one window is being
// recorded, and writes the clicks and positions beside the movie.
#include "platform/Pointer.h"
#include "platform/ScreenCapture.h"
#include "runtime/Queue.h"
#include "runtime/Timer.h"
#include "json/Value.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::jobs::record_window {

struct Sample {
    double time = 0;     // host clock, seconds
    double x = 0;        // fraction of the window's width from its left edge, in [0, 1]
    double y = 0;        // fraction of the window's height from its top edge, in [0, 1]
    bool inside = false; // whether the unclamped position lay within the window
};

class ClickLog : public std::enable_shared_from_this<ClickLog> {
  public:
    // `frame`: the window's frame when the recording began (points, global,
    // origin top-left of the main display, y down). `pointer` outlives the log.
    ClickLog(platform::Rect frame, std::shared_ptr<platform::PointerSource> pointer);

    // Also writes the side file of `videoFile` about once a second while
    // sampling, so that a recorder that is killed leaves one that covers all
    // but its last second. The writing happens on a thread of its own: a
    // slow disk never holds up the sampling. Called before start().
    void writeWhileSampling(const std::string& videoFile);

    // Starts sampling on `queue` (the main run loop): at once, then every
    // 16,666,667 ns. The timer holds only a weak reference to the log.
    void start(runtime::Queue& queue);

    // One sampling step. A press of the primary button is a click at the
    // tick that first sees the button down, or, when the pointer reports
    // presses, at the tick after a press (even one released again before it).
    void tick();

    // Notes the host-clock time of the first complete captured frame; only
    // the first call counts.
    void noteFirstFrame(double time);

    // Notes a host-clock time at or before the movie's end: samples after
    // it are not written. The earliest time noted counts.
    void noteEnd(double time);

    // Stops sampling and writes the side file beside `videoFile` (the path
    // as given). Returns its absolute path; nothing when it was written
    // before or could not be written.
    std::optional<std::string> finish(const std::string& videoFile);

    // Stops sampling and removes the side file written while sampling: the
    // recording failed. Later calls of finish write nothing.
    void discard();

    // Returns once the writes while sampling asked for so far are done.
    void waitForWrites();

    // The host clock now, in seconds (the clock the samples are taken on).
    double now() { return pointer_->now(); }

  private:
    // What the side file is made from, copied under lock_ so that the
    // sampling never waits for the serializing.
    struct Snapshot {
        std::vector<Sample> clicks;
        std::vector<Sample> pointer;
        std::optional<double> firstFrame;
        std::optional<double> end;
    };
    Snapshot snapshot(); // called under lock_
    static std::optional<std::string> sideFileText(const platform::Rect& frame, Snapshot samples);
    void writeInterim();

    // Taken around every write of the side file (before lock_, never with it
    // held during the write), so that a write made while sampling never
    // lands after the final one.
    std::mutex writeLock_;
    std::optional<std::string> interimPath_; // set before start, then read only
    bool interimWritten_ = false;            // guarded by writeLock_
    // Where the side file is written while sampling (set before start).
    std::unique_ptr<runtime::SerialQueue> writer_;
    std::mutex lock_;
    const platform::Rect frame_;
    const std::shared_ptr<platform::PointerSource> pointer_;
    std::unique_ptr<runtime::Timer> timer_;
    std::vector<Sample> clicks_;
    std::vector<Sample> pointerSamples_;
    std::optional<double> firstFrame_;
    std::optional<double> end_;
    bool interimQueued_ = false; // a write while sampling waits on writer_
    bool wasDown_ = false;
    std::int64_t ticks_ = 0;
    bool written_ = false;
};

// The pieces of finish, exposed for tests.
namespace clicklog {

constexpr std::size_t maxPointerSamples = 20000;

// The fractions of a pointer at (px, py) (points, origin bottom-left, y up)
// within `frame` on a main display `displayHeight` points tall.
Sample locate(double time, platform::Point pointer, double displayHeight,
              const platform::Rect& frame);

// Exactly maxPointerSamples samples spread evenly over `samples` when there
// are more; all of them otherwise.
std::vector<Sample> thin(std::vector<Sample> samples);

// The side-file object.
json::Object sideFile(const platform::Rect& frame, const std::vector<Sample>& clicks,
                      const std::vector<Sample>& pointer, double timeBase);

// The side file's absolute path for a movie path as given.
std::string sideFilePath(const std::string& videoFile);

// Writes `bytes` to `path` through a temporary file beside it that then
// replaces the target. Returns false on any failure (nothing is left behind).
// `durable`: on the disk before the rename (survives a power cut, not only
// the end of the process). A new file gets `mode` less the umask.
bool writeAtomically(const std::string& path, const std::string& bytes, bool durable = true,
                     unsigned mode = 0666);

} // namespace clicklog
} // namespace quorvane::jobs::record_window
