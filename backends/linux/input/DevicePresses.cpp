#include "input/DevicePresses.h"

#include "input/Handedness.h"
#include "input/PressReader.h"

namespace quorvane::backends::input {
namespace {

class DevicePressPointer final : public platform::PointerSource {
  public:
    explicit DevicePressPointer(std::unique_ptr<platform::PointerSource> inner)
        : inner_(std::move(inner)), reader_(readHandedness()) {}

    // The tick's time decides which presses it counts: those up to it now,
    // later ones at the next tick.
    double now() override {
        tickTime_ = inner_->now();
        return tickTime_;
    }
    platform::Point mouseLocation() override { return inner_->mouseLocation(); }
    unsigned pressedMouseButtons() override { return inner_->pressedMouseButtons(); }
    int primaryPresses() override {
        return inner_->primaryPresses() + reader_.takePressesUntil(tickTime_);
    }
    double mainDisplayHeight() override { return inner_->mainDisplayHeight(); }

  private:
    std::unique_ptr<platform::PointerSource> inner_;
    PressReader reader_;
    double tickTime_ = 0;
};

} // namespace

std::unique_ptr<platform::PointerSource>
withDevicePresses(std::unique_ptr<platform::PointerSource> pointer) {
    return std::make_unique<DevicePressPointer>(std::move(pointer));
}

} // namespace quorvane::backends::input
