#pragma once
#include "platform/HardwareFacts.h"
#include "json/Value.h"

#include <string>
#include <string_view>

namespace quorvane::shell {

// "ultra", "max", "pro", "base" or "unknown" from the processor brand.
std::string chipTier(std::string_view chip);

// Installed bytes in GiB, rounded to the nearest whole number (halves up).
std::int64_t memoryGB(std::uint64_t bytes);

std::string thermalStateName(int state);

json::Object hardwareProfile(const platform::HardwareFacts& facts);

// The profile of this machine, read fresh.
json::Object hardwareProfile();

} // namespace quorvane::shell
