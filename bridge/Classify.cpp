#include "Classify.h"

#include "Framing.h"
#include "text/Numbers.h"

#include <simdjson.h>

namespace quorvane::bridge {
namespace {

static_assert(LineBuffer::linePadding >= simdjson::SIMDJSON_PADDING,
              "line buffers must leave the parser its padding");

// After a line this long the parser's memory is given back rather than kept.
constexpr std::size_t keepParserMemoryUpTo = 16u << 20;

void describeId(simdjson::dom::element id, Classification& out) {
    using simdjson::dom::element_type;
    switch (id.type()) {
    case element_type::STRING:
        out.idIsString = true;
        out.idText = std::string(id.get_string().value_unsafe());
        break;
    case element_type::INT64:
        out.idText = std::to_string(id.get_int64().value_unsafe());
        break;
    case element_type::UINT64:
        out.idText = std::to_string(id.get_uint64().value_unsafe());
        break;
    case element_type::DOUBLE:
        out.idText = text::formatNumber(id.get_double().value_unsafe(), true);
        break;
    default:
        out.idText = simdjson::minify(id);
        break;
    }
    out.idJson = simdjson::minify(id);
}

} // namespace

struct Classifier::Parser {
    simdjson::dom::parser dom;
};

Classifier::Classifier() : parser_(std::make_unique<Parser>()) {}
Classifier::~Classifier() = default;

Classification Classifier::classify(std::string_view line, std::size_t readable) {
    Classification out;
    const bool inPlace = readable >= line.size() + simdjson::SIMDJSON_PADDING;
    simdjson::dom::element root;
    auto error = parser_->dom.parse(line.data(), line.size(), !inPlace).get(root);
    if (!error) {
        simdjson::dom::object members;
        if (root.get_object().get(members) == simdjson::SUCCESS) {
            // With repeated members the last one counts, as in a dictionary.
            for (auto field : members) {
                out.object = true;
                if (field.key == "method") {
                    out.hasMethodMember = true;
                    std::string_view method;
                    if (field.value.get_string().get(method) == simdjson::SUCCESS)
                        out.method = std::string(method);
                    else
                        out.method.reset();
                } else if (field.key == "id") {
                    out.hasId = true;
                    out.idIsString = false;
                    describeId(field.value, out);
                }
            }
        }
    }
    if (line.size() > keepParserMemoryUpTo) parser_->dom = simdjson::dom::parser();
    return out;
}

} // namespace quorvane::bridge
