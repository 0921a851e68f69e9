#pragma once
// A JSON value as the programs build it just before printing.
// Objects keep their keys sorted (std::map), which is the order every
// printed object uses.
#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace quorvane::json {

// A number that must be written as the shortest plain decimal naming the
// double exactly (no exponent): rounded positions and times.
struct Decimal {
    double value;
};

class Value;
using Array = std::vector<Value>;
using Object = std::map<std::string, Value, std::less<>>;

class Value {
  public:
    using Storage = std::variant<std::nullptr_t, bool, std::int64_t, double, Decimal, std::string,
                                 Array, Object>;

    Value() : v_(nullptr) {}
    Value(std::nullptr_t) : v_(nullptr) {}
    Value(bool b) : v_(b) {}
    Value(int i) : v_(static_cast<std::int64_t>(i)) {}
    Value(long i) : v_(static_cast<std::int64_t>(i)) {}
    Value(long long i) : v_(static_cast<std::int64_t>(i)) {}
    Value(unsigned u) : v_(static_cast<std::int64_t>(u)) {}
    Value(double d) : v_(d) {}
    Value(Decimal d) : v_(d) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(std::string_view s) : v_(std::string(s)) {}
    Value(Array a) : v_(std::move(a)) {}
    Value(Object o) : v_(std::move(o)) {}

    const Storage& storage() const { return v_; }

  private:
    Storage v_;
};

} // namespace quorvane::json
