#pragma once
// What the bridge needs to know of one JSON-RPC line: whether it is a
// non-empty object, its method and its id. Lines are fully validated but never
// re-serialised; only the id is written again, for the bridge's own replies.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quorvane::bridge {

struct Classification {
    bool object = false;               // a JSON object with at least one member
    std::optional<std::string> method; // member "method" when it is a string
    bool hasMethodMember = false;      // member "method" of any type
    bool hasId = false;                // member "id" of any type
    bool idIsString = false;
    // The id's text: a string id itself, a number in decimal; so 7 and "7"
    // share one text. Other values use their JSON text.
    std::string idText;
    std::string idJson; // the id as compact JSON, of the type received

    bool isRequest() const { return method && hasId; }
    bool idHasPrefix(std::string_view prefix) const {
        return hasId && idIsString && idText.starts_with(prefix);
    }
};

class Classifier {
  public:
    Classifier();
    ~Classifier();
    Classifier(const Classifier&) = delete;
    Classifier& operator=(const Classifier&) = delete;

    // `readable` is how many bytes from line.data() on may be read; with
    // enough room after the line it is parsed in place, otherwise copied.
    // Invalid JSON, and anything but a non-empty object, has no method and no id.
    Classification classify(std::string_view line, std::size_t readable);
    Classification classify(std::string_view line) { return classify(line, line.size()); }

  private:
    struct Parser;
    std::unique_ptr<Parser> parser_;
};

} // namespace quorvane::bridge
