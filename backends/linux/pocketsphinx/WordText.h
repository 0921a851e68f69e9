#pragma once
// Which of the decoder's tokens are spoken words, and their text.
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::backends::pocketsphinx {

// The word's text without an alternate-pronunciation mark ("read(2)" →
// "read"); nothing for sentence marks, silence, fillers ("[NOISE]",
// "+breath+") and empty tokens.
std::optional<std::string> wordText(std::string_view token);

} // namespace quorvane::backends::pocketsphinx
