#pragma once
#include "shell/UserError.h"

#include <string>

namespace quorvane::jobs::transcribe {

// The job's own failure: no speech model fits the requested locale. Its
// what() is the user's message and nothing else.
class TranscribeError : public UserError {
  public:
    enum class Case { unsupported };

    static TranscribeError unsupported(const std::string& message) {
        return TranscribeError(Case::unsupported, message);
    }

    Case kind() const { return kind_; }

  private:
    TranscribeError(Case kind, const std::string& message) : UserError(message), kind_(kind) {}
    Case kind_;
};

} // namespace quorvane::jobs::transcribe
