#pragma once

namespace quorvane::io {

// Opens /dev/null on each of descriptors 0 to 2 that is closed, so that no
// file, device or socket the program opens later can become standard input,
// output or error (and receive lines meant for the caller). Call first thing
// in main, before anything opens a descriptor.
void openMissingStandardDescriptors();

} // namespace quorvane::io
