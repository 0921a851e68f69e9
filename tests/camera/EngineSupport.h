#pragma once
// What the recording prints and how it ends, caught for the tests; and a
// look at the movies it writes.
#include "SyntheticCamera.h"
#include "jobs/camera/CameraRecording.h"

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace quorvane::testing {

struct Ending {
    json::Object object;
    int status = -1;
};

class CaughtOutput {
  public:
    // Keeps the line; answers false (not delivered) while `refusing`.
    bool print(const json::Object& object);
    bool refusing = false;
    void end(const json::Object& object, int status);
    // The first ending, waiting for it (fails the test after two minutes).
    Ending waitForEnding();
    std::vector<json::Object> printed();
    std::vector<Ending> endings();

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<json::Object> printed_;
    std::vector<Ending> endings_;
};

constexpr double testWallTime = 1'700'000'000.5;

jobs::camera::CameraRecordingServices servicesFor(SyntheticCamera& camera, CaughtOutput& output);

// Reading values of a printed object.
std::string text(const json::Object& object, const std::string& key);
double number(const json::Object& object, const std::string& key);
bool flag(const json::Object& object, const std::string& key);
std::vector<std::string> keys(const json::Object& object);

// ffprobe's stream and format facts as "codec_type.key" → value.
std::map<std::string, std::string> probe(const std::string& file);
// The first picture of the movie as 8 × 8 grey pixels.
std::vector<std::uint8_t> firstPictureGrey8x8(const std::string& file);
// The sound track as mono 48 kHz signed 16-bit samples.
std::vector<std::int16_t> soundSamples(const std::string& file);

} // namespace quorvane::testing
