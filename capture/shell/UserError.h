#pragma once
#include <stdexcept>
#include <string>

namespace quorvane {

// A failure whose what() is the complete sentence for the user. Jobs throw it
// (or a subclass) and turn it into their error object in one place.
class UserError : public std::runtime_error {
  public:
    explicit UserError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace quorvane
