#pragma once
// The speech models installed under one folder, one sub-folder per locale
// named in lower case ("en-us"), as Debian's model packages lay them out.
#include <filesystem>
#include <string>
#include <vector>

namespace quorvane::backends::pocketsphinx {

inline const std::filesystem::path systemModelFolder = "/usr/share/pocketsphinx/model";

struct ModelFiles {
    std::string locale;                  // BCP-47, e.g. "en-US"
    std::filesystem::path acousticModel; // folder holding "mdef"
    std::filesystem::path languageModel; // "*.lm.bin", "*.lm" or "*.lm.DMP", not a phone model
    std::filesystem::path dictionary;    // "*.dict"
};

// Every complete model under `root`, sorted by locale. A missing or
// unreadable folder holds none.
std::vector<ModelFiles> findModels(const std::filesystem::path& root);

} // namespace quorvane::backends::pocketsphinx
