#include "zip_entry_check.hpp"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <system_error>
#include <thread>

namespace zandrel {
namespace {

// Below this many compressed bytes a thread costs more than it saves.
constexpr std::uint64_t bytes_per_worker = 8 << 20;
constexpr unsigned max_workers = 4;

}  // namespace

struct ParallelEntryCheck::Shared {
    const ZipReader& reader;
    std::vector<std::size_t> indices;
    std::atomic<std::size_t> next{0};
    // Positions after a known failure need no checking.
    std::atomic<std::size_t> first_failed{SIZE_MAX};
    std::mutex failure_lock;
    std::optional<EntryCheckFailure> failure;
    std::vector<std::thread> workers;

    Shared(const ZipReader& input, std::vector<std::size_t> entries) : reader(input), indices(std::move(entries)) {}

    void record(std::size_t position, ZandrelError error) {
        std::lock_guard lock(failure_lock);
        if (failure && failure->position < position) return;
        failure = EntryCheckFailure{position, std::move(error)};
        first_failed = position;
    }

    void check_one(std::size_t position, ZipReadScratch& scratch) {
        const auto opened = reader.open_entry(indices[position]);
        if (!opened) return;
        const Status verified = reader.verify_entry(*opened, scratch);
        if (!verified) record(position, verified.error());
    }

    // Takes positions until none is left; a worker must not throw, and a
    // position it took but could not check must still fail the check.
    void work() noexcept {
        std::size_t position = SIZE_MAX;
        try {
            ZipReadScratch scratch;
            for (position = next++; position < indices.size(); position = next++)
                if (position < first_failed) check_one(position, scratch);
        } catch (const std::bad_alloc&) {
            if (position < indices.size())
                record(position, ZandrelError::io("out of memory while checking entry " +
                                                  reader.entry(indices[position]).name));
        }
    }

    void join() {
        for (std::thread& worker : workers)
            if (worker.joinable()) worker.join();
        workers.clear();
    }
};

ParallelEntryCheck::ParallelEntryCheck(const ZipReader& reader, std::vector<std::size_t> indices)
    : shared_(std::make_unique<Shared>(reader, std::move(indices))) {
    std::uint64_t bytes = 0;
    for (const std::size_t index : shared_->indices) bytes += reader.entry(index).compressed_size;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const auto wanted = static_cast<unsigned>(std::min<std::uint64_t>({bytes / bytes_per_worker, cores, max_workers}));
    for (unsigned i = 0; i < wanted; ++i) {
        try {
            shared_->workers.emplace_back([shared = shared_.get()] { shared->work(); });
        } catch (const std::system_error&) {
            break;  // fewer workers; the caller's thread checks the rest
        }
    }
}

ParallelEntryCheck::~ParallelEntryCheck() {
    if (!shared_) return;
    shared_->next = shared_->indices.size();
    shared_->join();
}

std::optional<EntryCheckFailure> ParallelEntryCheck::finish() {
    shared_->work();
    shared_->join();
    std::lock_guard lock(shared_->failure_lock);
    return shared_->failure;
}

}  // namespace zandrel
