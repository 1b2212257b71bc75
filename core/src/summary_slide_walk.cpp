#include "summary_slide_walk.hpp"

#include <algorithm>
#include <exception>
#include <optional>
#include <vector>

#include "worker_threads.hpp"

namespace zandrel {
namespace {

// Slide text below which a thread costs more than it saves: starting and
// joining one takes about 30 us, as long as summarising 2 KiB, and a worker
// takes about half the slides of a deck at this size.
constexpr std::uint64_t slide_bytes_per_worker = 16 << 10;
constexpr unsigned max_slide_workers = 3;

class SlideWalk {
public:
    SlideWalk(const ZipReader& archive, std::span<const std::string> parts,
              const std::function<Status(const ZipReader&, std::size_t)>& visit)
        : archive_(archive), parts_(parts), visit_(visit), outcomes_(parts.size()), positions_(parts.size()) {}

    Status run() {
        std::uint64_t bytes = 0;
        for (const auto& part : parts_)
            if (auto index = archive_.find(part)) bytes += archive_.entry(*index).uncompressed_size;
        // the calling thread takes slides too: one slide needs no worker,
        // and a worker needs a core of its own
        const std::size_t other_slides = parts_.empty() ? 0 : parts_.size() - 1;
        const auto workers = std::min<std::size_t>(
            {threads_worth(bytes, slide_bytes_per_worker, max_slide_workers), other_cores(), other_slides});
        {
            ScopedThreads threads;
            threads.start(static_cast<unsigned>(workers), [this] { work_on_shared_reader(); });
            work(archive_);
        }
        for (Outcome& outcome : outcomes_) {
            if (outcome.exception) std::rethrow_exception(outcome.exception);
            if (outcome.status && !*outcome.status) return *outcome.status;
        }
        return {};
    }

private:
    struct Outcome {
        std::optional<Status> status;  // absent for a slide after a failure
        std::exception_ptr exception;
    };

    void work(const ZipReader& reader) noexcept {
        while (const auto position = positions_.take()) {
            Outcome& outcome = outcomes_[*position];
            try {
                outcome.status = visit_(reader, *position);
                if (*outcome.status) continue;
            } catch (...) {
                outcome.exception = std::current_exception();
            }
            positions_.failed_at(*position);
        }
    }

    // A worker that cannot get a reader of its own takes no slides.
    void work_on_shared_reader() noexcept {
        try {
            const ZipReader reader = archive_.share();
            work(reader);
        } catch (...) {
        }
    }

    const ZipReader& archive_;
    std::span<const std::string> parts_;
    const std::function<Status(const ZipReader&, std::size_t)>& visit_;
    std::vector<Outcome> outcomes_;
    PositionQueue positions_;
};

}  // namespace

Status visit_slides_in_parallel(const ZipReader& archive, std::span<const std::string> slide_parts,
                                const std::function<Status(const ZipReader& reader, std::size_t position)>& visit) {
    return SlideWalk(archive, slide_parts, visit).run();
}

}  // namespace zandrel
