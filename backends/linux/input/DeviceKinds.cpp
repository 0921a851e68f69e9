#include "input/DeviceKinds.h"

#include <linux/input-event-codes.h>

#include <fstream>
#include <sstream>

namespace quorvane::backends::input {

Bits Bits::parse(std::string_view text) {
    Bits bits;
    std::istringstream in{std::string(text)};
    std::string word;
    std::vector<unsigned long long> words;
    while (in >> word) {
        try {
            std::size_t used = 0;
            words.push_back(std::stoull(word, &used, 16));
            if (used != word.size()) return Bits{};
        } catch (const std::exception&) {
            return Bits{};
        }
    }
    bits.words_.assign(words.rbegin(), words.rend());
    return bits;
}

bool Bits::has(unsigned bit) const {
    const std::size_t word = bit / 64;
    return word < words_.size() && ((words_[word] >> (bit % 64)) & 1u) != 0;
}

std::vector<unsigned> Bits::set() const {
    std::vector<unsigned> out;
    for (std::size_t w = 0; w < words_.size(); ++w)
        for (unsigned b = 0; b < 64; ++b)
            if ((words_[w] >> b) & 1u) out.push_back(static_cast<unsigned>(w * 64 + b));
    return out;
}

namespace {

// Buttons a pointer may carry: the generic and mouse buttons and the
// digitiser's tools. Any other key makes the device something else.
bool isPointerButton(unsigned code) {
    return (code >= BTN_MISC && code <= BTN_TASK) || (code >= BTN_DIGI && code <= BTN_TOOL_QUADTAP);
}

} // namespace

DeviceKind classify(const Capabilities& caps) {
    if (!caps.ev.has(EV_KEY)) return DeviceKind::Other;
    for (unsigned code : caps.key.set())
        if (!isPointerButton(code)) return DeviceKind::Other;
    const bool relative = caps.ev.has(EV_REL) && caps.rel.has(REL_X) && caps.rel.has(REL_Y);
    const bool absolute = caps.ev.has(EV_ABS) && caps.abs.has(ABS_X) && caps.abs.has(ABS_Y);
    if (!relative && !absolute) return DeviceKind::Other;
    if (absolute && caps.key.has(BTN_TOOL_FINGER) && caps.key.has(BTN_TOUCH) &&
        !caps.properties.has(INPUT_PROP_DIRECT))
        return DeviceKind::Touchpad;
    if (caps.key.has(BTN_LEFT)) return DeviceKind::Mouse;
    if (absolute && caps.key.has(BTN_TOUCH)) return DeviceKind::Touch;
    return DeviceKind::Other;
}

namespace {

Bits readBits(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return Bits{};
    return Bits::parse(line);
}

} // namespace

DeviceKind classifyNode(const std::string& sysRoot, const std::string& name) {
    const std::string device = sysRoot + "/class/input/" + name + "/device/";
    std::ifstream probe(device + "capabilities/ev");
    if (!probe) return DeviceKind::Other;
    Capabilities caps;
    caps.ev = readBits(device + "capabilities/ev");
    caps.key = readBits(device + "capabilities/key");
    caps.rel = readBits(device + "capabilities/rel");
    caps.abs = readBits(device + "capabilities/abs");
    caps.properties = readBits(device + "properties");
    return classify(caps);
}

} // namespace quorvane::backends::input
