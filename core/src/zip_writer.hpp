// Writing ZIP archives: raw copies of input entries (local header fields and
// compressed bytes kept verbatim), new entries deflated or stored, directory
// entries, and ZIP64 records only where sizes, offsets or counts need them.
//
// Errors: starting an entry under a name already written, or a raw copy that
// fails, gives Zip; writing entry data gives Io; finishing gives Zip.
//
// Texts: Zip "duplicate entry name {name}", "unsupported compression method
// {n}", "directory entry name must end with '/': {name}", "entry name is too
// long: {name}", "the archive is already finished", "the archive is unusable
// after an earlier failure" (once a write failed midway), and the reader's
// open_entry errors; a failed raw copy or finish gives Zip with the system's
// text.
//
// Raw copies of entries that lie back to back in the input go out as one
// kernel copy, started when the next header is written or at finish, so a
// failed raw copy may surface in a later call. Entries start at the
// descriptor's position when the writer is made; offsets count from the start
// of the file. Not thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>

#include "models.hpp"
#include "zip_reader.hpp"

namespace zandrel {

// Header fields of an entry written anew (not copied raw).
struct NewEntryOptions {
    std::uint16_t method = zip_method_deflate;
    std::uint16_t dos_date = 0x0021;  // 1980-01-01
    std::uint16_t dos_time = 0x0000;
};

class ZipWriter {
public:
    // Writes to an already opened file descriptor; the caller owns it.
    explicit ZipWriter(int fd);
    ZipWriter(ZipWriter&&) noexcept;
    ~ZipWriter();

    // Local header, data and central record of the input entry, byte for byte,
    // except the central record's local header offset (moved into a ZIP64
    // extra field when it needs 64 bits).
    Status copy_raw(const ZipReader& reader, std::size_t index);
    // The same for an entry the caller has opened already.
    Status copy_raw(const ZipReader& reader, const OpenedEntry& opened);
    // The input entry's compressed bytes under a fresh header with the given
    // date and time, nothing recompressed and nothing checked: the caller
    // verifies the entry (ZipReader::verify_entry) before it trusts the output.
    // Used where every entry must get a new timestamp. The method stays the
    // input's; options.method is ignored. Io when copying the bytes fails.
    Status copy_unverified_with_new_timestamp(const ZipReader& reader, std::size_t index,
                                              const NewEntryOptions& options);
    Status copy_unverified_with_new_timestamp(const ZipReader& reader, const OpenedEntry& opened,
                                              const NewEntryOptions& options);
    // The name is written as given; Deflate at the fastest level. Version 20 (45 when
    // sizes need ZIP64), external attributes 0, no data descriptor.
    Status add_entry(std::string_view name, std::string_view data, const NewEntryOptions& options);
    // A Stored empty entry; the name must end with '/'. options.method is ignored.
    Status add_directory(std::string_view name, const NewEntryOptions& options);
    // Central directory and end records; no archive comment.
    Status finish();

    std::uint64_t entries_written() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace zandrel
