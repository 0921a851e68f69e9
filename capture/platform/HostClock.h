#pragma once

namespace quorvane::platform {

// The host's monotonic clock in seconds: the one that dates captured
// pictures, pointer samples and sound alike.
double hostTimeNow();

} // namespace quorvane::platform
