#pragma once
// The record-window tests name the shared test helpers in their own namespace.
#include "support/TempDir.h"

namespace quorvane::jobs::record_window::testing {

using quorvane::testing::readFile;
using quorvane::testing::TempDir;

} // namespace quorvane::jobs::record_window::testing
