#include "zip_entry_check.hpp"

#include <mutex>

#include "worker_threads.hpp"

namespace zandrel {
namespace {

// Below this many compressed bytes a thread costs more than it saves.
constexpr std::uint64_t bytes_per_worker = 8 << 20;
constexpr unsigned max_workers = 4;

}  // namespace

struct ParallelEntryCheck::Shared {
    const ZipReader& reader;
    std::vector<std::size_t> indices;
    PositionQueue positions;
    std::mutex failure_lock;
    std::optional<EntryCheckFailure> failure;
    ScopedThreads workers;

    Shared(const ZipReader& input, std::vector<std::size_t> entries)
        : reader(input), indices(std::move(entries)), positions(indices.size()) {}

    void record(std::size_t position, ZandrelError error) {
        std::lock_guard lock(failure_lock);
        if (failure && failure->position < position) return;
        failure = EntryCheckFailure{position, std::move(error)};
        positions.failed_at(position);
    }

    void check_one(std::size_t position, const ZipReader& own_reader) {
        const auto opened = own_reader.open_entry(indices[position]);
        if (!opened) return;
        const Status verified = own_reader.verify_entry(*opened);
        if (!verified) record(position, verified.error());
    }

    // Takes positions until none is left; a worker must not throw, and a
    // position it took but could not check must still fail the check.
    void work(const ZipReader& own_reader) noexcept {
        std::optional<std::size_t> position;
        try {
            while ((position = positions.take())) check_one(*position, own_reader);
        } catch (const std::bad_alloc&) {
            if (position)
                record(*position, ZandrelError::io("out of memory while checking entry " +
                                                   reader.entry(indices[*position]).name));
        }
    }

    // A worker that cannot get a reader of its own takes no positions.
    void work_on_shared_reader() noexcept {
        try {
            const ZipReader own_reader = reader.share();
            work(own_reader);
        } catch (const std::bad_alloc&) {
        }
    }
};

ParallelEntryCheck::ParallelEntryCheck(const ZipReader& reader, std::vector<std::size_t> indices)
    : shared_(std::make_unique<Shared>(reader, std::move(indices))) {
    std::uint64_t bytes = 0;
    for (const std::size_t index : shared_->indices) bytes += reader.entry(index).compressed_size;
    shared_->workers.start(threads_worth(bytes, bytes_per_worker, max_workers),
                           [shared = shared_.get()] { shared->work_on_shared_reader(); });
}

ParallelEntryCheck::~ParallelEntryCheck() {
    if (!shared_) return;
    shared_->positions.close();
    shared_->workers.join();
}

std::optional<EntryCheckFailure> ParallelEntryCheck::finish() {
    shared_->work(shared_->reader);
    shared_->workers.join();
    std::lock_guard lock(shared_->failure_lock);
    return shared_->failure;
}

}  // namespace zandrel
