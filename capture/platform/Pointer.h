#pragma once
// The mouse pointer as the click log samples it, and the host clock that
// stamps both pointer samples and captured frames.
#include <memory>

namespace quorvane::platform {

struct Point {
    double x = 0;
    double y = 0;
};

class PointerSource {
  public:
    virtual ~PointerSource() = default;

    // The host clock now, in seconds: the clock that stamps captured frames.
    virtual double now() = 0;
    // The pointer position in points, in global coordinates whose origin is
    // the bottom-left corner of the main display, y growing upwards.
    virtual Point mouseLocation() = 0;
    // A bit mask of the mouse buttons held now; bit 0 is the primary button.
    virtual unsigned pressedMouseButtons() = 0;
    // Presses of the primary button since the previous call that the latest
    // pressedMouseButtons() answer already reflects, including presses
    // released again in between; 0 where presses are not reported.
    virtual int primaryPresses() { return 0; }
    // The main display's height in points.
    virtual double mainDisplayHeight() = 0;
};

} // namespace quorvane::platform
