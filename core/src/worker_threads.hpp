// Threads that one call starts for its own work and joins before it returns,
// so none outlives the call and nothing is shared between calls.
#pragma once

#include <cstdint>
#include <functional>
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

}  // namespace zandrel
