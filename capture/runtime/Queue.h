#pragma once
// Where work runs. The main queue is served by the main thread inside
// runMainLoop(); a SerialQueue owns one thread of its own and runs its work
// items one at a time, in order.
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace quorvane::runtime {

class Queue {
  public:
    struct Impl;
    virtual ~Queue();

    // Runs `work` later on this queue.
    void async(std::function<void()> work);
    // Runs `work` on this queue and waits for it (inline when already on it).
    void sync(const std::function<void()>& work);
    // Whether the calling thread is the one serving this queue.
    bool isCurrent() const;
    const std::string& label() const;

    Impl& impl() { return *impl_; }

  protected:
    explicit Queue(std::string label);
    std::unique_ptr<Impl> impl_;
};

// The main thread's queue (its run loop).
Queue& mainQueue();

// Serves the main queue on the calling (main) thread. Jobs end the process
// themselves; should the loop ever run out of work, the process exits with 0.
[[noreturn]] void runMainLoop();

class SerialQueue final : public Queue {
  public:
    explicit SerialQueue(std::string label);
    ~SerialQueue() override; // finishes queued work, then joins its thread

  private:
    std::thread thread_;
};

// Starts `work` as an asynchronous task on a thread of its own.
void startTask(std::function<void()> work);

} // namespace quorvane::runtime
