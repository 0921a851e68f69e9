#pragma once
// Small readers for procfs/sysfs text files.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quorvane::backends::sysfs {

// The file's text with trailing white space (and NULs) removed; nothing when unreadable.
std::optional<std::string> readText(const std::filesystem::path& file);

std::optional<std::int64_t> readInteger(const std::filesystem::path& file, int base = 10);

// A kernel CPU list such as "0-3,8,10-11".
std::vector<int> parseCpuList(const std::string& list);

} // namespace quorvane::backends::sysfs
