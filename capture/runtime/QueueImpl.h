#pragma once
// Private to the runtime: the Asio context behind a Queue.
#include "runtime/Queue.h"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

#include <atomic>
#include <optional>
#include <thread>

namespace quorvane::runtime {

struct Queue::Impl {
    std::string label;
    asio::io_context io{1};
    asio::executor_work_guard<asio::io_context::executor_type> work{io.get_executor()};
    std::atomic<std::thread::id> servingThread{};
};

} // namespace quorvane::runtime
