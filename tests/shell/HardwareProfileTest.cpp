#include "shell/HardwareProfile.h"
#include "platform/HardwareFacts.h"
#include "support/TempDir.h"
#include "json/Writer.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace quorvane;
namespace fs = std::filesystem;

TEST(HardwareProfile, TierFromBrand) {
    const std::pair<const char*, const char*> cases[] = {
        {"Apple M2 Ultra", "ultra"},
        {"Apple M3 Max", "max"},
        {"Apple M1 Pro", "pro"},
        {"Apple M4", "base"},
        {"apple m1 max ultra", "ultra"},
        {"Apple M3 Pro Max", "max"},
        {"Intel(R) Xeon(R) Processor", "pro"}, // "pro" inside another word counts
        {"AMD EPYC", "unknown"},
        {"", "unknown"},
        {"Apple A17", "unknown"},
    };
    for (const auto& [brand, tier] : cases)
        EXPECT_EQ(shell::chipTier(brand), tier) << brand;
}

TEST(HardwareProfile, MemoryRoundsToNearestGiB) {
    constexpr std::uint64_t GiB = 1ull << 30;
    EXPECT_EQ(shell::memoryGB(16 * GiB), 16);
    EXPECT_EQ(shell::memoryGB(GiB + GiB / 2), 2);
    EXPECT_EQ(shell::memoryGB(static_cast<std::uint64_t>(1.49 * GiB)), 1);
    EXPECT_EQ(shell::memoryGB(0), 0);
}

TEST(HardwareProfile, ThermalNamesAndKeys) {
    EXPECT_EQ(shell::thermalStateName(0), "nominal");
    EXPECT_EQ(shell::thermalStateName(2), "serious");
    EXPECT_EQ(shell::thermalStateName(7), "nominal");
    EXPECT_EQ(shell::thermalStateName(-1), "nominal");
    platform::HardwareFacts f;
    f.chip = "Apple M1 Pro";
    f.performanceCores = 8;
    f.efficiencyCores = 2;
    f.memoryBytes = 32ull << 30;
    f.thermalState = 1;
    EXPECT_EQ(json::serialize(shell::hardwareProfile(f)),
              R"({"chip":"Apple M1 Pro","efficiencyCores":2,"lowPowerMode":false,"memoryGB":32,)"
              R"("performanceCores":8,"thermalState":"fair","tier":"pro"})");
    f.gpuCores = 16;
    EXPECT_NE(json::serialize(shell::hardwareProfile(f)).find(R"("gpuCores":16,)"),
              std::string::npos);
}

// A small fake procfs/sysfs tree.
class FakeSystem : public ::testing::Test {
  protected:
    quorvane::testing::TempDir temp{"quorvane-sysfs"};
    const fs::path root = temp.path;
    void write(const std::string& path, const std::string& text) {
        fs::create_directories((root / path).parent_path());
        std::ofstream(root / path) << text;
    }
    // cpu N on core `core` of package 0, with an optional capacity.
    void cpu(int n, int core, int capacity = 0) {
        const std::string dir = "sys/devices/system/cpu/cpu" + std::to_string(n);
        write(dir + "/topology/core_id", std::to_string(core) + "\n");
        write(dir + "/topology/physical_package_id", "0\n");
        if (capacity) write(dir + "/cpu_capacity", std::to_string(capacity) + "\n");
    }
};

TEST_F(FakeSystem, HybridIntelWithThermalTripAndLowPower) {
    write("proc/cpuinfo", "processor\t: 0\nmodel name\t: 12th Gen Intel(R) Core(TM) i7-1260P\n\n");
    write("sys/devices/system/cpu/present", "0-7\n");
    // Four performance CPUs on two cores (hyper-threads), four efficiency cores.
    for (int i = 0; i < 4; ++i)
        cpu(i, i / 2);
    for (int i = 4; i < 8; ++i)
        cpu(i, i + 4);
    write("sys/devices/cpu_core/cpus", "0-3\n");
    write("sys/devices/cpu_atom/cpus", "4-7\n");
    write("sys/devices/system/memory/block_size_bytes", "8000000\n");
    for (int i = 0; i < 128; ++i)
        write("sys/devices/system/memory/memory" + std::to_string(i) + "/online", "1\n");
    write("sys/devices/system/memory/memory200/online", "0\n");
    write("sys/class/thermal/thermal_zone0/temp", "96000\n");
    write("sys/class/thermal/thermal_zone0/trip_point_0_type", "passive\n");
    write("sys/class/thermal/thermal_zone0/trip_point_0_temp", "95000\n");
    write("sys/class/thermal/thermal_zone0/trip_point_1_type", "critical\n");
    write("sys/class/thermal/thermal_zone0/trip_point_1_temp", "105000\n");
    write("sys/firmware/acpi/platform_profile", "low-power\n");
    const auto f = platform::readHardwareFacts(root);
    EXPECT_EQ(f.chip, "12th Gen Intel(R) Core(TM) i7-1260P");
    EXPECT_EQ(f.performanceCores, 2);
    EXPECT_EQ(f.efficiencyCores, 4);
    EXPECT_EQ(f.memoryBytes, 129ull * 0x8000000); // an offline block is still installed
    EXPECT_EQ(f.thermalState, 1);
    EXPECT_TRUE(f.lowPowerMode);
    EXPECT_FALSE(f.gpuCores);
}

TEST_F(FakeSystem, ArmBigLittleFromCapacityAndDeviceTreeModel) {
    write("proc/cpuinfo", "processor\t: 0\nBogoMIPS\t: 108.00\n");
    write("proc/device-tree/model", std::string("Raspberry Pi 5 Model B Rev 1.0\0", 31));
    write("sys/devices/system/cpu/present", "0-5\n");
    for (int i = 0; i < 4; ++i)
        cpu(i, i, 446);
    for (int i = 4; i < 6; ++i)
        cpu(i, i, 1024);
    write("proc/meminfo", "MemTotal:        8110000 kB\nMemFree: 1 kB\n");
    write("sys/class/thermal/thermal_zone0/temp", "110000\n");
    write("sys/class/thermal/thermal_zone0/trip_point_0_type", "hot\n");
    write("sys/class/thermal/thermal_zone0/trip_point_0_temp", "100000\n");
    const auto f = platform::readHardwareFacts(root);
    EXPECT_EQ(f.chip, "Raspberry Pi 5 Model B Rev 1.0");
    EXPECT_EQ(f.performanceCores, 2);
    EXPECT_EQ(f.efficiencyCores, 4);
    EXPECT_EQ(shell::memoryGB(f.memoryBytes), 8);
    EXPECT_EQ(f.thermalState, 2);
    EXPECT_FALSE(f.lowPowerMode);
}

TEST_F(FakeSystem, SingleLevelAndNothingElse) {
    write("proc/cpuinfo", "model name\t: AMD EPYC\n");
    write("sys/devices/system/cpu/present", "0-3\n");
    for (int i = 0; i < 4; ++i)
        cpu(i, i % 2); // two cores, two threads each
    const auto f = platform::readHardwareFacts(root);
    EXPECT_EQ(f.chip, "AMD EPYC");
    EXPECT_EQ(f.performanceCores, 2);
    EXPECT_EQ(f.efficiencyCores, 0);
    EXPECT_EQ(f.memoryBytes, 0u);
    EXPECT_EQ(f.thermalState, 0);
}

TEST_F(FakeSystem, EmptyTreeFallsBackEverywhere) {
    fs::create_directories(root);
    const auto f = platform::readHardwareFacts(root);
    EXPECT_EQ(f.chip, "");
    EXPECT_EQ(f.performanceCores, 0);
    EXPECT_EQ(f.efficiencyCores, 0);
    EXPECT_EQ(f.thermalState, 0);
    EXPECT_EQ(shell::chipTier(f.chip), "unknown");
}
