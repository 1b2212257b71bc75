// Threads that one call starts for its own work and joins before it returns,
// so none outlives the call and nothing is shared between calls.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

namespace zandrel {

// How many extra threads `units` of work are worth when a thread pays off
// only from `units_per_thread` on: at most `max_threads`, and no more than
// the machine has cores.
unsigned threads_worth(std::uint64_t units, std::uint64_t units_per_thread, unsigned max_threads);

// The machine's cores beside the one the calling thread runs on.
unsigned other_cores();

class ScopedThreads {
public:
    ScopedThreads() = default;
    ScopedThreads(const ScopedThreads&) = delete;
    ScopedThreads& operator=(const ScopedThreads&) = delete;
    ~ScopedThreads() { join(); }

    // Starts `count` threads running `work`, or fewer when the system refuses
    // more; the caller's own thread must be able to do all the work alone.
    // `work` must not throw.
    void start(unsigned count, const std::function<void()>& work);
    void join();

private:
    std::vector<std::thread> threads_;
};

// Positions [0, count) handed out in order to whichever thread asks. Only
// the earliest failure counts, so once one is known the positions after it
// are passed over.
class PositionQueue {
public:
    explicit PositionQueue(std::size_t count) : count_(count) {}

    // The next position worth working on; none when all are taken.
    std::optional<std::size_t> take();
    // Notes a failure at `position`, so later positions are passed over.
    void failed_at(std::size_t position);
    // Gives up every position not taken yet.
    void close() { next_ = count_; }

private:
    std::size_t count_;
    std::atomic<std::size_t> next_{0};
    std::atomic<std::size_t> first_failed_{SIZE_MAX};
};

}  // namespace zandrel
