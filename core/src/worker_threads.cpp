#include "worker_threads.hpp"

#include <algorithm>
#include <system_error>

namespace zandrel {

unsigned threads_worth(std::uint64_t units, std::uint64_t units_per_thread, unsigned max_threads) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return static_cast<unsigned>(std::min<std::uint64_t>({units / units_per_thread, cores, max_threads}));
}

unsigned other_cores() { return std::max(1u, std::thread::hardware_concurrency()) - 1; }

void ScopedThreads::start(unsigned count, const std::function<void()>& work) {
    for (unsigned i = 0; i < count; ++i) {
        try {
            threads_.emplace_back(work);
        } catch (const std::system_error&) {
            return;
        }
    }
}

void ScopedThreads::join() {
    for (std::thread& thread : threads_)
        if (thread.joinable()) thread.join();
    threads_.clear();
}

std::optional<std::size_t> PositionQueue::take() {
    for (std::size_t position = next_++; position < count_; position = next_++)
        if (position < first_failed_) return position;
    return std::nullopt;
}

void PositionQueue::failed_at(std::size_t position) {
    std::size_t known = first_failed_;
    while (position < known && !first_failed_.compare_exchange_weak(known, position)) {
    }
}

}  // namespace zandrel
