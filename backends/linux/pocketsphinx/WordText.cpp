#include "pocketsphinx/WordText.h"

#include <cctype>

namespace quorvane::backends::pocketsphinx {

std::optional<std::string> wordText(std::string_view token) {
    if (token == "<s>" || token == "</s>" || token == "<sil>") return std::nullopt;
    if (token.size() >= 2 && ((token.front() == '[' && token.back() == ']') ||
                              (token.front() == '+' && token.back() == '+')))
        return std::nullopt;
    // "word(2)": the dictionary's second pronunciation of "word".
    if (token.size() >= 3 && token.back() == ')') {
        const std::size_t open = token.rfind('(');
        bool digits = open != std::string_view::npos && open > 0 && open + 2 < token.size();
        for (std::size_t i = open + 1; digits && i + 1 < token.size(); ++i)
            digits = std::isdigit(static_cast<unsigned char>(token[i])) != 0;
        if (digits) token = token.substr(0, open);
    }
    if (token.empty()) return std::nullopt;
    return std::string(token);
}

} // namespace quorvane::backends::pocketsphinx
