#include "shell/Option.h"

#include <algorithm>

namespace quorvane::shell {

std::optional<std::string> option(std::string_view flag, const std::vector<std::string>& args) {
    const auto it = std::find(args.begin(), args.end(), flag);
    if (it == args.end() || std::next(it) == args.end()) return std::nullopt;
    return *std::next(it);
}

bool hasSwitch(std::string_view flag, const std::vector<std::string>& args) {
    return std::find(args.begin(), args.end(), flag) != args.end();
}

} // namespace quorvane::shell
