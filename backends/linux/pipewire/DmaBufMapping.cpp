#include "pipewire/DmaBufMapping.h"

#include <linux/dma-buf.h>
#include <sys/ioctl.h>
#include <sys/mman.h>

namespace quorvane::backends::pipewire {

DmaBufMapping::DmaBufMapping(int fd, std::size_t size) : fd_(fd), size_(size) {
    void* p = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    if (p == MAP_FAILED) return;
    data_ = static_cast<const std::uint8_t*>(p);
    sync(DMA_BUF_SYNC_START);
}

DmaBufMapping::~DmaBufMapping() {
    if (!data_) return;
    sync(DMA_BUF_SYNC_END);
    ::munmap(const_cast<std::uint8_t*>(data_), size_);
}

void DmaBufMapping::sync(std::uint64_t flags) {
    dma_buf_sync s{flags | DMA_BUF_SYNC_READ};
    [[maybe_unused]] int r = ::ioctl(fd_, DMA_BUF_IOCTL_SYNC, &s);
}

} // namespace quorvane::backends::pipewire
