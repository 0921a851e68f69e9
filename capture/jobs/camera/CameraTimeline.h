#pragma once
// Places a camera's pictures on the movie's timeline. A driver's picture
// times normally increase with the pictures, but clock-recovery glitches and
// cameras that copy another program's stamps step them back, or far ahead.
// Such a picture is placed after the previous one by the time that passed
// between their arrivals, and later pictures keep that correction, so the
// movie's times always increase and no picture is lost to its stamp.
#include <optional>

namespace quorvane::jobs::camera {

class CameraTimeline {
  public:
    // A step between two stamps larger than the time between the pictures'
    // arrivals by more than this is a jump of the driver's clock: no real
    // camera goes that long without a picture (the stall check ends the
    // recording first).
    static constexpr double largestGap = 5.0;
    // The least time between two pictures in the movie.
    static constexpr double smallestStep = 0.001;

    // Where the picture stamped `stamp` (the session's clock, seconds) goes;
    // `arrival` is the host clock when it was handled (may be not a number
    // when that clock cannot be read). Always later than the time returned
    // for the previous picture.
    double place(double stamp, double arrival);

  private:
    std::optional<double> lastPlaced_;
    std::optional<double> lastArrival_;
    double offset_ = 0; // added to the driver's stamps since its last jump
};

} // namespace quorvane::jobs::camera
