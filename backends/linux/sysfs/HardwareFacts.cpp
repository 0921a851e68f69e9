// The hardware facts of a Linux machine, from procfs and sysfs below a root.
#include "platform/HardwareFacts.h"

#include "sysfs/SysfsReading.h"
#include "text/Utf8.h"

#include <fstream>
#include <map>
#include <set>
#include <utility>

namespace quorvane::platform {
namespace fs = std::filesystem;
using backends::sysfs::parseCpuList;
using backends::sysfs::readInteger;
using backends::sysfs::readText;

namespace {

std::string trim(std::string s) {
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    const auto e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

std::string readChip(const fs::path& root) {
    std::ifstream in(root / "proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        if (trim(line.substr(0, colon)) == "model name")
            return text::validUtf8(trim(line.substr(colon + 1)));
    }
    // ARM boards name no processor model; the device tree names the machine.
    if (auto model = readText(root / "proc/device-tree/model")) return text::validUtf8(*model);
    return "";
}

fs::path cpuDir(const fs::path& root, int cpu) {
    return root / "sys/devices/system/cpu" / ("cpu" + std::to_string(cpu));
}

// Physical cores among `cpus`: distinct (package, core) pairs; a CPU without
// topology counts as a core of its own.
std::int64_t physicalCores(const fs::path& root, const std::vector<int>& cpus) {
    std::set<std::pair<std::int64_t, std::int64_t>> cores;
    for (int cpu : cpus) {
        const auto topo = cpuDir(root, cpu) / "topology";
        const auto core = readInteger(topo / "core_id");
        const auto package = readInteger(topo / "physical_package_id");
        if (core)
            cores.insert({package.value_or(0), *core});
        else
            cores.insert({-1, cpu});
    }
    return static_cast<std::int64_t>(cores.size());
}

void readCores(const fs::path& root, HardwareFacts& facts) {
    // Hybrid Intel parts list their two kinds of cores as two PMU devices.
    const auto pCores = readText(root / "sys/devices/cpu_core/cpus");
    const auto eCores = readText(root / "sys/devices/cpu_atom/cpus");
    if (pCores && eCores) {
        facts.performanceCores = physicalCores(root, parseCpuList(*pCores));
        facts.efficiencyCores = physicalCores(root, parseCpuList(*eCores));
        return;
    }
    const auto present = readText(root / "sys/devices/system/cpu/present");
    if (!present) return;
    const auto cpus = parseCpuList(*present);
    // big.LITTLE: the highest capacity is the performance level.
    std::map<std::int64_t, std::vector<int>> byCapacity;
    for (int cpu : cpus)
        if (auto cap = readInteger(cpuDir(root, cpu) / "cpu_capacity"))
            byCapacity[*cap].push_back(cpu);
    if (byCapacity.size() > 1) {
        std::vector<int> efficiency;
        for (auto it = byCapacity.begin(); std::next(it) != byCapacity.end(); ++it)
            efficiency.insert(efficiency.end(), it->second.begin(), it->second.end());
        facts.performanceCores = physicalCores(root, byCapacity.rbegin()->second);
        facts.efficiencyCores = physicalCores(root, efficiency);
        return;
    }
    facts.performanceCores = physicalCores(root, cpus);
}

std::uint64_t readMemory(const fs::path& root) {
    // Every memory block present is installed memory, online or not;
    // MemTotal leaves out what the kernel reserved, so it is only the fallback.
    const auto memory = root / "sys/devices/system/memory";
    const auto blockSize = readInteger(memory / "block_size_bytes", 16);
    std::error_code ec;
    if (blockSize && *blockSize > 0 && fs::is_directory(memory, ec)) {
        std::uint64_t blocks = 0;
        for (const auto& entry : fs::directory_iterator(memory, ec)) {
            const auto name = entry.path().filename().string();
            if (name.size() > 6 && name.rfind("memory", 0) == 0) ++blocks;
        }
        if (blocks > 0) return blocks * static_cast<std::uint64_t>(*blockSize);
    }
    std::ifstream in(root / "proc/meminfo");
    std::string key;
    std::uint64_t kib = 0;
    while (in >> key) {
        if (key == "MemTotal:") {
            in >> kib;
            return kib * 1024;
        }
        in.ignore(1 << 20, '\n');
    }
    return 0;
}

// The worst state over all zones: passive trip → fair, hot → serious, critical → critical.
int readThermalState(const fs::path& root) {
    const auto thermal = root / "sys/class/thermal";
    std::error_code ec;
    int worst = 0;
    for (const auto& zone : fs::directory_iterator(thermal, ec)) {
        if (zone.path().filename().string().rfind("thermal_zone", 0) != 0) continue;
        const auto temp = readInteger(zone.path() / "temp");
        if (!temp) continue;
        for (int trip = 0; trip < 64; ++trip) {
            const auto prefix = "trip_point_" + std::to_string(trip);
            const auto type = readText(zone.path() / (prefix + "_type"));
            if (!type) break;
            const auto limit = readInteger(zone.path() / (prefix + "_temp"));
            if (!limit || *limit <= 0 || *temp < *limit) continue;
            int state = 0;
            if (*type == "passive")
                state = 1;
            else if (*type == "hot")
                state = 2;
            else if (*type == "critical")
                state = 3;
            worst = std::max(worst, state);
        }
    }
    return worst;
}

} // namespace

HardwareFacts readHardwareFacts(const fs::path& root) {
    HardwareFacts facts;
    facts.chip = readChip(root);
    readCores(root, facts);
    facts.memoryBytes = readMemory(root);
    facts.thermalState = readThermalState(root);
    facts.lowPowerMode = readText(root / "sys/firmware/acpi/platform_profile") == "low-power";
    // Linux has no common way to report a GPU core count: the key stays out.
    return facts;
}

} // namespace quorvane::platform
