#include "shell/HardwareProfile.h"

#include <algorithm>
#include <cmath>

namespace quorvane::shell {

std::string chipTier(std::string_view chip) {
    std::string lower(chip);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    if (lower.find("ultra") != std::string::npos) return "ultra";
    if (lower.find("max") != std::string::npos) return "max";
    if (lower.find("pro") != std::string::npos) return "pro";
    if (lower.starts_with("apple m")) return "base";
    return "unknown";
}

std::int64_t memoryGB(std::uint64_t bytes) {
    return static_cast<std::int64_t>(std::round(static_cast<double>(bytes) / 1073741824.0));
}

std::string thermalStateName(int state) {
    switch (state) {
    case 1:
        return "fair";
    case 2:
        return "serious";
    case 3:
        return "critical";
    default:
        return "nominal";
    }
}

json::Object hardwareProfile(const platform::HardwareFacts& facts) {
    json::Object profile{
        {"chip", facts.chip},
        {"tier", chipTier(facts.chip)},
        {"performanceCores", facts.performanceCores},
        {"efficiencyCores", facts.efficiencyCores},
        {"memoryGB", memoryGB(facts.memoryBytes)},
        {"thermalState", thermalStateName(facts.thermalState)},
        {"lowPowerMode", facts.lowPowerMode},
    };
    if (facts.gpuCores) profile["gpuCores"] = *facts.gpuCores;
    return profile;
}

json::Object hardwareProfile() {
    return hardwareProfile(platform::readHardwareFacts());
}

} // namespace quorvane::shell
