#pragma once
// A System V shared memory segment that the X server writes pictures into
// (MIT-SHM). Removed when the last user detaches; detached on destruction.
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstddef>
#include <cstdint>
#include <memory>

namespace quorvane::backends::x11 {

class ShmSegment {
  public:
    // Throws platform::ScreenCaptureError when the segment cannot be made or
    // the server cannot attach it.
    ShmSegment(xcb_connection_t* connection, std::size_t size);
    ~ShmSegment();
    ShmSegment(const ShmSegment&) = delete;
    ShmSegment& operator=(const ShmSegment&) = delete;

    xcb_shm_seg_t id() const { return seg_; }
    std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

  private:
    xcb_connection_t* connection_;
    std::size_t size_;
    std::uint8_t* data_ = nullptr;
    xcb_shm_seg_t seg_ = 0;
};

} // namespace quorvane::backends::x11
