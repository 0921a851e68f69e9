#include "x11/ShmSegment.h"

#include "platform/ScreenCapture.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/ipc.h>
#include <sys/shm.h>

namespace quorvane::backends::x11 {

ShmSegment::ShmSegment(xcb_connection_t* connection, std::size_t size)
    : connection_(connection), size_(size) {
    const int shmid = ::shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (shmid < 0)
        throw platform::ScreenCaptureError(
            std::string("Quorvane cannot make shared memory for the window's pictures: ") +
            std::strerror(errno) + ".");
    void* address = ::shmat(shmid, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        const int error = errno;
        ::shmctl(shmid, IPC_RMID, nullptr);
        throw platform::ScreenCaptureError(
            std::string("Quorvane cannot map shared memory for the window's pictures: ") +
            std::strerror(error) + ".");
    }
    data_ = static_cast<std::uint8_t*>(address);
    seg_ = xcb_generate_id(connection_);
    xcb_generic_error_t* error =
        xcb_request_check(connection_, xcb_shm_attach_checked(connection_, seg_, shmid, 0));
    // Marked for removal now: it goes away once both sides have detached,
    // even if this process is killed.
    ::shmctl(shmid, IPC_RMID, nullptr);
    if (error) {
        std::free(error);
        ::shmdt(data_);
        throw platform::ScreenCaptureError(
            "The X display cannot share memory with Quorvane (MIT-SHM), so the window cannot "
            "be recorded.");
    }
}

ShmSegment::~ShmSegment() {
    if (!xcb_connection_has_error(connection_)) xcb_shm_detach(connection_, seg_);
    ::shmdt(data_);
}

} // namespace quorvane::backends::x11
