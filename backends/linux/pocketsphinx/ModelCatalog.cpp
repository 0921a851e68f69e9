#include "pocketsphinx/ModelCatalog.h"

#include "pocketsphinx/Locales.h"

#include <algorithm>
#include <optional>
#include <system_error>

namespace quorvane::backends::pocketsphinx {
namespace {

namespace fs = std::filesystem;

bool endsWith(const std::string& s, std::string_view suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool isLanguageModel(const std::string& name) {
    if (name.find("-phone") != std::string::npos) return false; // phonetic, not words
    return endsWith(name, ".lm.bin") || endsWith(name, ".lm") || endsWith(name, ".lm.DMP");
}

// The entries of `folder` in name order, so that the choice is stable.
std::vector<fs::directory_entry> entries(const fs::path& folder) {
    std::vector<fs::directory_entry> list;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        list.push_back(*it);
    std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) {
        return a.path().filename() < b.path().filename();
    });
    return list;
}

// The file a model folder's own name points at ("en-us.lm.bin"), else the first that fits.
std::optional<fs::path> pick(const std::vector<fs::directory_entry>& list,
                             const std::string& preferred, bool (*fits)(const std::string&)) {
    std::optional<fs::path> found;
    for (const auto& e : list) {
        std::error_code ec;
        const std::string name = e.path().filename().string();
        if (!e.is_regular_file(ec) || !fits(name)) continue;
        if (name == preferred) return e.path();
        if (!found) found = e.path();
    }
    return found;
}

std::optional<ModelFiles> modelIn(const fs::path& folder) {
    const std::string name = folder.filename().string();
    if (!parseLocale(name)) return std::nullopt;
    ModelFiles model;
    model.locale = normaliseLocale(name);
    const auto list = entries(folder);
    for (const auto& e : list) {
        std::error_code ec;
        if (e.is_directory(ec) && fs::is_regular_file(e.path() / "mdef", ec)) {
            model.acousticModel = e.path();
            break;
        }
    }
    const auto lm = pick(list, name + ".lm.bin", isLanguageModel);
    const auto dict = pick(list, "cmudict-" + name + ".dict",
                           [](const std::string& n) { return endsWith(n, ".dict"); });
    if (model.acousticModel.empty() || !lm || !dict) return std::nullopt;
    model.languageModel = *lm;
    model.dictionary = *dict;
    return model;
}

} // namespace

std::vector<ModelFiles> findModels(const fs::path& root) {
    std::vector<ModelFiles> models;
    for (const auto& e : entries(root)) {
        std::error_code ec;
        if (!e.is_directory(ec)) continue;
        if (auto model = modelIn(e.path())) models.push_back(std::move(*model));
    }
    std::sort(models.begin(), models.end(),
              [](const auto& a, const auto& b) { return a.locale < b.locale; });
    return models;
}

} // namespace quorvane::backends::pocketsphinx
