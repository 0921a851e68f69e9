#include "input/PressReader.h"

#include "input/DeviceKinds.h"

#include <libevdev/libevdev.h>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <vector>

namespace quorvane::backends::input {

namespace {

// A touch shorter than this, with one finger, is a tap.
constexpr double kTapSeconds = 0.18;

struct EvdevFree {
    void operator()(libevdev* d) const { libevdev_free(d); }
};

double seconds(const input_event& e) {
    return static_cast<double>(e.input_event_sec) + static_cast<double>(e.input_event_usec) / 1e6;
}

bool isEventNode(const std::string& name) {
    return name.size() > 5 && name.compare(0, 5, "event") == 0 &&
           std::all_of(name.begin() + 5, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

struct PressReader::Device {
    std::string name;
    DeviceKind kind = DeviceKind::Other;
    io::UniqueFd fd;
    std::unique_ptr<libevdev, EvdevFree> evdev;
    unsigned primary = BTN_LEFT;
    // A touchpad's touch in progress: when it began, and whether it still
    // may be a tap (one finger, no button pressed meanwhile).
    double touchStart = 0;
    bool touching = false;
    bool tapPossible = false;
};

PressReader::PressReader(Handedness hands, std::string devRoot, std::string sysRoot)
    : hands_(hands), inputDir_(std::move(devRoot) + "/input"), sysRoot_(std::move(sysRoot)) {
    wake_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    notify_.reset(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    // Without a folder to watch, devices may still be there to read now.
    if (notify_ &&
        ::inotify_add_watch(notify_.get(), inputDir_.c_str(),
                            IN_CREATE | IN_ATTRIB | IN_DELETE | IN_MOVED_TO | IN_MOVED_FROM) < 0)
        notify_.reset();
    scan();
    if (wake_) thread_ = std::thread([this] { run(); });
}

PressReader::~PressReader() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake_.get(), &one, sizeof one);
        thread_.join();
    }
}

int PressReader::takePressesUntil(double time) {
    std::lock_guard guard(lock_);
    int n = 0;
    while (!presses_.empty() && presses_.front() <= time) {
        presses_.pop_front();
        ++n;
    }
    return n;
}

void PressReader::press(double time) {
    std::lock_guard guard(lock_);
    // Devices report in their own order; keep the queue sorted.
    presses_.insert(std::upper_bound(presses_.begin(), presses_.end(), time), time);
}

void PressReader::scan() {
    DIR* dir = ::opendir(inputDir_.c_str());
    if (!dir) return;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir))
        names.emplace_back(entry->d_name);
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        add(name);
}

void PressReader::add(const std::string& name) {
    if (!isEventNode(name)) return;
    for (const auto& d : devices_)
        if (d->name == name) return;
    // What a device is comes from its published facts: a keyboard is never
    // opened at all.
    const DeviceKind kind = classifyNode(sysRoot_, name);
    if (kind == DeviceKind::Other) return;
    const std::string path = inputDir_ + "/" + name;
    if (::access(path.c_str(), R_OK) != 0) return; // the user may not read it (yet)
    io::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd) return;
    libevdev* raw = nullptr;
    if (libevdev_new_from_fd(fd.get(), &raw) != 0) return;
    auto device = std::make_unique<Device>();
    device->evdev.reset(raw);
    // The node may not be what its facts said: check the keys once more.
    for (unsigned code = 0; code <= KEY_MAX; ++code)
        if (libevdev_has_event_code(raw, EV_KEY, code) &&
            !((code >= BTN_MISC && code <= BTN_TASK) ||
              (code >= BTN_DIGI && code <= BTN_TOOL_QUADTAP)))
            return;
    // Press times on the host clock, the one the samples are stamped on.
    if (libevdev_set_clock_id(raw, CLOCK_MONOTONIC) != 0) return;
    device->name = name;
    device->kind = kind;
    device->fd = std::move(fd);
    const bool leftHanded =
        kind == DeviceKind::Touchpad ? hands_.touchpadLeftHanded : hands_.mouseLeftHanded;
    device->primary =
        leftHanded && libevdev_has_event_code(raw, EV_KEY, BTN_RIGHT) ? BTN_RIGHT : BTN_LEFT;
    devices_.push_back(std::move(device));
}

void PressReader::remove(const std::string& name) {
    devices_.erase(std::remove_if(devices_.begin(), devices_.end(),
                                  [&](const auto& d) { return d->name == name; }),
                   devices_.end());
}

bool PressReader::read(Device& device) {
    input_event e{};
    unsigned flag = LIBEVDEV_READ_FLAG_NORMAL;
    for (;;) {
        const int rc = libevdev_next_event(device.evdev.get(), flag, &e);
        if (rc == -EAGAIN) {
            if (flag == LIBEVDEV_READ_FLAG_SYNC) {
                flag = LIBEVDEV_READ_FLAG_NORMAL; // caught up after dropped events
                continue;
            }
            return true;
        }
        if (rc == LIBEVDEV_READ_STATUS_SYNC) {
            // Events were lost: what the resync brings back is state, not
            // presses, and a touch in progress can no longer be a tap.
            flag = LIBEVDEV_READ_FLAG_SYNC;
            device.tapPossible = false;
            continue;
        }
        if (rc < 0) return false; // the device failed
        if (flag == LIBEVDEV_READ_FLAG_SYNC || e.type != EV_KEY) continue;
        const double t = seconds(e);
        if (e.code == device.primary && e.value == 1) {
            press(t);
            device.tapPossible = false;
        } else if (device.kind == DeviceKind::Touchpad) {
            if (e.code == BTN_TOUCH) {
                if (e.value == 1) {
                    device.touching = true;
                    device.touchStart = t;
                    device.tapPossible = true;
                } else if (e.value == 0 && device.touching) {
                    device.touching = false;
                    if (device.tapPossible && t - device.touchStart <= kTapSeconds)
                        press(device.touchStart);
                }
            } else if ((e.code == BTN_TOOL_DOUBLETAP || e.code == BTN_TOOL_TRIPLETAP ||
                        e.code == BTN_TOOL_QUADTAP || e.code == BTN_LEFT || e.code == BTN_RIGHT ||
                        e.code == BTN_MIDDLE) &&
                       e.value == 1) {
                device.tapPossible = false; // a gesture or a button, not a tap
            }
        } else if (device.kind == DeviceKind::Touch && e.code == BTN_TOUCH && e.value == 1) {
            press(t);
        }
    }
}

void PressReader::run() {
    std::vector<pollfd> fds;
    for (;;) {
        fds.clear();
        fds.push_back({wake_.get(), POLLIN, 0});
        fds.push_back({notify_ ? notify_.get() : -1, POLLIN, 0});
        for (const auto& d : devices_)
            fds.push_back({d->fd.get(), POLLIN, 0});
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents) return;
        std::vector<std::string> failed;
        for (std::size_t i = 2; i < fds.size(); ++i) {
            Device& device = *devices_[i - 2];
            if (fds[i].revents & POLLIN) {
                if (!read(device)) {
                    failed.push_back(device.name);
                    continue;
                }
            }
            // Unplugged, or the node went away: the others go on.
            if (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL)) failed.push_back(device.name);
        }
        for (const std::string& name : failed)
            remove(name);
        if (fds[1].revents & POLLIN) {
            alignas(inotify_event) char buffer[4096];
            ssize_t n;
            while ((n = ::read(notify_.get(), buffer, sizeof buffer)) > 0) {
                for (char* p = buffer; p < buffer + n;) {
                    const auto* event = reinterpret_cast<const inotify_event*>(p);
                    const std::string name = event->len ? event->name : "";
                    if (event->mask & (IN_DELETE | IN_MOVED_FROM))
                        remove(name);
                    else
                        add(name); // new, or its permissions changed
                    p += sizeof(inotify_event) + event->len;
                }
            }
        }
    }
}

} // namespace quorvane::backends::input
