#pragma once
// Primary-button presses read from the pointer devices under /dev/input
// that this process may read: a thread of its own follows devices as they
// come and go and keeps the presses' times on the host clock.
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "io/UniqueFd.h"

namespace quorvane::backends::input {

struct Handedness {
    bool mouseLeftHanded = false;
    bool touchpadLeftHanded = false;
};

class PressReader {
  public:
    // `devRoot` holds the input/ folder of device nodes, `sysRoot` the
    // kernel's class/input facts about them.
    PressReader(Handedness hands, std::string devRoot = "/dev", std::string sysRoot = "/sys");
    ~PressReader();
    PressReader(const PressReader&) = delete;
    PressReader& operator=(const PressReader&) = delete;

    // Removes and counts the presses at or before `time` (host clock).
    int takePressesUntil(double time);

  private:
    struct Device;
    void run();
    void scan();
    void add(const std::string& name);
    void remove(const std::string& name);
    bool read(Device& device); // false when the device failed
    void press(double time);

    const Handedness hands_;
    const std::string inputDir_;
    const std::string sysRoot_;
    io::UniqueFd wake_;                           // eventfd that ends the thread
    io::UniqueFd notify_;                         // inotify on the folder of device nodes
    std::deque<std::unique_ptr<Device>> devices_; // the thread's own

    std::mutex lock_;
    std::deque<double> presses_;
    std::thread thread_;
};

} // namespace quorvane::backends::input
