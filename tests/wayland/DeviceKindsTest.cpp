// Which input devices the recorder may open, from the capability masks the
// kernel publishes: pointers only, never anything with other keys.
#include "input/DeviceKinds.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvane::backends::input {
namespace {

TEST(DeviceKinds, MasksReadMostSignificantWordFirst) {
    const Bits bits = Bits::parse("2420 10000 0 0 0 0");
    EXPECT_TRUE(bits.has(0x110));
    EXPECT_TRUE(bits.has(0x145));
    EXPECT_TRUE(bits.has(0x14a));
    EXPECT_FALSE(bits.has(0x111));
    EXPECT_FALSE(bits.has(5000));
    EXPECT_EQ(Bits::parse("x7").set().size(), 0u); // not hexadecimal: nothing
    EXPECT_EQ(Bits::parse("").set().size(), 0u);
}

TEST(DeviceKinds, OnlyPointersWithPointerButtonsAreOpened) {
    struct Case {
        const char* what;
        const char* ev;
        const char* key;
        const char* rel;
        const char* abs;
        const char* properties;
        DeviceKind kind;
    } cases[] = {
        {"mouse", "17", "70000 0 0 0 0", "103", "0", "0", DeviceKind::Mouse},
        {"touchpad", "b", "2420 10000 0 0 0 0", "0", "3", "5", DeviceKind::Touchpad},
        {"touch screen", "b", "400 0 0 0 0 0", "0", "3", "2", DeviceKind::Touch},
        {"touch screen with a finger tool", "b", "420 0 0 0 0 0", "0", "3", "2", DeviceKind::Touch},
        {"keyboard", "120013", "fffffffffffffffe", "0", "0", "0", DeviceKind::Other},
        {"keyboard with its own pointer", "17", "70000 0 0 0 fffffffffffffffe", "3", "0", "0",
         DeviceKind::Other},
        {"mouse with a keyboard key", "17", "70000 0 0 0 1000000000000", "3", "0", "0",
         DeviceKind::Other}, // KEY_B
        {"joystick", "b", "ffff00000000 0 0 0 0", "0", "3", "0", DeviceKind::Other},
        {"buttons without motion", "3", "70000 0 0 0 0", "0", "0", "0", DeviceKind::Other},
        {"motion without buttons", "5", "0", "3", "0", "0", DeviceKind::Other},
        {"only one axis", "17", "70000 0 0 0 0", "1", "0", "0", DeviceKind::Other},
        {"unreadable facts", "", "", "", "", "", DeviceKind::Other},
    };
    for (const Case& c : cases) {
        Capabilities caps;
        caps.ev = Bits::parse(c.ev);
        caps.key = Bits::parse(c.key);
        caps.rel = Bits::parse(c.rel);
        caps.abs = Bits::parse(c.abs);
        caps.properties = Bits::parse(c.properties);
        EXPECT_EQ(classify(caps), c.kind) << c.what;
    }
}

TEST(DeviceKinds, DevicesWithoutPublishedFactsAreOther) {
    EXPECT_EQ(classifyNode("/nonexistent", "event0"), DeviceKind::Other);
}

} // namespace
} // namespace quorvane::backends::input
