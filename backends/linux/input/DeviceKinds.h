#pragma once
// What an input device is, from the capability bit masks the kernel
// publishes beside it, before anything is opened.
#include <string>
#include <string_view>
#include <vector>

namespace quorvane::backends::input {

// One capability mask as sysfs writes it: hexadecimal words, the most
// significant first, separated by spaces.
class Bits {
  public:
    static Bits parse(std::string_view text);
    bool has(unsigned bit) const;
    // The bits set, lowest first.
    std::vector<unsigned> set() const;

  private:
    std::vector<unsigned long long> words_; // least significant first
};

struct Capabilities {
    Bits ev, key, rel, abs, properties;
};

enum class DeviceKind {
    Other,    // never opened: keyboards, joysticks, anything with other keys
    Mouse,    // relative motion (or an absolute pointer) with buttons
    Touchpad, // a finger on a pad moves the pointer: a tap is a press
    Touch,    // a touch screen or tablet: touching is pressing
};

DeviceKind classify(const Capabilities& caps);

// Reads /sys/class/input/<name>/device/capabilities and properties under
// `sysRoot`; a device whose facts cannot be read is Other.
DeviceKind classifyNode(const std::string& sysRoot, const std::string& name);

} // namespace quorvane::backends::input
