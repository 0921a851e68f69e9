#pragma once
// The one reading of the portal's offer: why it cannot record single windows.
#include "portal/ScreenCastPortal.h"

#include <optional>
#include <string>

namespace quorvane::backends::portal {

// Nothing when `offer` includes window casts; else the sentence to show
// (also when the portal did not answer).
std::optional<std::string> missingWindowCasts(const std::optional<Offer>& offer);

} // namespace quorvane::backends::portal
