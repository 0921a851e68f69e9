#pragma once
// A DMA-BUF mapped for reading while it lives, with the kernel told that the
// CPU reads it (begin and end of access) around the mapping.
#include <cstddef>
#include <cstdint>

namespace quorvane::backends::pipewire {

class DmaBufMapping {
  public:
    // Maps `size` bytes of `fd` (not taken over); data() is null on failure.
    DmaBufMapping(int fd, std::size_t size);
    ~DmaBufMapping();
    DmaBufMapping(const DmaBufMapping&) = delete;
    DmaBufMapping& operator=(const DmaBufMapping&) = delete;
    const std::uint8_t* data() const { return data_; }

  private:
    void sync(std::uint64_t flags);
    int fd_;
    std::size_t size_;
    const std::uint8_t* data_ = nullptr;
};

} // namespace quorvane::backends::pipewire
