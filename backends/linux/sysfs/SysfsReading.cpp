#include "sysfs/SysfsReading.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace quorvane::backends::sysfs {

std::optional<std::string> readText(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream buf;
    buf << in.rdbuf();
    std::string s = buf.str();
    while (!s.empty() && (s.back() == '\n' || s.back() == ' ' || s.back() == '\t' ||
                          s.back() == '\0' || s.back() == '\r'))
        s.pop_back();
    return s;
}

std::optional<std::int64_t> readInteger(const std::filesystem::path& file, int base) {
    const auto text = readText(file);
    if (!text || text->empty()) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text->c_str(), &end, base);
    if (errno != 0 || end == text->c_str()) return std::nullopt;
    return v;
}

std::vector<int> parseCpuList(const std::string& list) {
    std::vector<int> cpus;
    std::stringstream in(list);
    std::string range;
    while (std::getline(in, range, ',')) {
        const auto dash = range.find('-');
        char* end = nullptr;
        const long first = std::strtol(range.c_str(), &end, 10);
        if (end == range.c_str()) continue;
        long last = first;
        if (dash != std::string::npos) last = std::strtol(range.c_str() + dash + 1, nullptr, 10);
        for (long c = first; c <= last && c - first < 65536; ++c)
            cpus.push_back(static_cast<int>(c));
    }
    return cpus;
}

} // namespace quorvane::backends::sysfs
