// Verifying many entries of one archive (CRC and size, by inflating) on worker
// threads while the caller goes on, e.g. writing the entries' compressed bytes
// to an output it has not committed yet. The workers start with the check and
// are joined by `finish` (or the destructor), so none outlives the call that
// made the check and nothing is shared between calls.
//
// Errors: `finish` gives the reader's error for the earliest entry, in the
// order given, that fails to verify (Io, e.g. "crc mismatch in entry {name}"),
// with its position in that order. An entry that cannot be opened is passed
// over: whoever writes the entry reports that error itself.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "models.hpp"
#include "zip_reader.hpp"

namespace zandrel {

struct EntryCheckFailure {
    std::size_t position = 0;  // in the order of the indices given
    ZandrelError error;
};

class ParallelEntryCheck {
public:
    // Starts workers when the compressed bytes to check are worth a thread;
    // otherwise everything is checked in `finish`. The reader must outlive
    // the check.
    ParallelEntryCheck(const ZipReader& reader, std::vector<std::size_t> indices);
    ParallelEntryCheck(const ParallelEntryCheck&) = delete;
    ParallelEntryCheck& operator=(const ParallelEntryCheck&) = delete;
    ~ParallelEntryCheck();

    // Checks what the workers have not taken yet on the calling thread, waits
    // for them, and returns the earliest failure, if any.
    std::optional<EntryCheckFailure> finish();

private:
    struct Shared;
    std::unique_ptr<Shared> shared_;
};

}  // namespace zandrel
