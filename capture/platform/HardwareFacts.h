#pragma once
// The raw facts the hardware profile is built from, as the system reports them.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace quorvane::platform {

struct HardwareFacts {
    std::string chip; // processor brand, as reported ("" when unknown)
    std::int64_t performanceCores = 0;
    std::int64_t efficiencyCores = 0;
    std::uint64_t memoryBytes = 0; // installed memory
    int thermalState = 0;          // 0 nominal, 1 fair, 2 serious, 3 critical
    bool lowPowerMode = false;
    std::optional<std::int64_t> gpuCores;
};

// Reads the facts below `root` ("/" on a live system; tests pass a small fake
// tree holding proc/ and sys/). Never fails: what cannot be read keeps its default.
HardwareFacts readHardwareFacts(const std::filesystem::path& root = "/");

} // namespace quorvane::platform
