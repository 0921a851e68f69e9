#include "runtime/QueueImpl.h"
#include "shell/Output.h"

#include <asio/post.hpp>
#include <future>

namespace quorvane::runtime {

Queue::Queue(std::string label) : impl_(std::make_unique<Impl>()) {
    impl_->label = std::move(label);
}

Queue::~Queue() = default;

void Queue::async(std::function<void()> work) {
    asio::post(impl_->io, std::move(work));
}

void Queue::sync(const std::function<void()>& work) {
    if (isCurrent()) {
        work();
        return;
    }
    std::promise<void> done;
    asio::post(impl_->io, [&] {
        try {
            work();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    done.get_future().get();
}

bool Queue::isCurrent() const {
    return impl_->servingThread.load() == std::this_thread::get_id();
}

const std::string& Queue::label() const {
    return impl_->label;
}

namespace {
class MainQueue final : public Queue {
  public:
    MainQueue() : Queue("quorvane.main") {}
};
} // namespace

Queue& mainQueue() {
    // The one process-wide run loop; created on first use, never destroyed.
    static MainQueue* queue = std::make_unique<MainQueue>().release();
    return *queue;
}

void runMainLoop() {
    auto& impl = mainQueue().impl();
    impl.servingThread = std::this_thread::get_id();
    impl.io.run();
    shell::exitProcess(0);
}

SerialQueue::SerialQueue(std::string label) : Queue(std::move(label)) {
    auto* impl = impl_.get();
    std::promise<void> started;
    auto ready = started.get_future();
    thread_ = std::thread([impl, &started] {
        impl->servingThread = std::this_thread::get_id();
        started.set_value();
        impl->io.run();
    });
    ready.wait();
}

SerialQueue::~SerialQueue() {
    if (isCurrent()) {
        // Destroyed from one of its own work items: the thread cannot join
        // itself, so it and its context stay until the process ends.
        thread_.detach();
        impl_->work.reset();
        impl_.release();
        return;
    }
    std::promise<void> drained;
    asio::post(impl_->io, [&] { drained.set_value(); });
    drained.get_future().wait();
    impl_->io.stop();
    thread_.join();
}

void startTask(std::function<void()> work) {
    std::thread(std::move(work)).detach();
}

} // namespace quorvane::runtime
