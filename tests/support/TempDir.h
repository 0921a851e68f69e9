#pragma once
// A private folder for one test, and reading back what was written into it.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>

namespace quorvane::testing {

// A new empty folder below the temporary folder, removed with all it holds
// when the owner goes.
class TempDir {
  public:
    explicit TempDir(const std::string& prefix = "quorvane-test") {
        std::string pattern = std::filesystem::temp_directory_path() / (prefix + "-XXXXXX");
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("cannot make a temporary folder " + pattern);
        path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::filesystem::path path;
};

inline std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace quorvane::testing
