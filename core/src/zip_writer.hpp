// Writing ZIP archives: raw copies of input entries (local header fields and
// compressed bytes kept verbatim), new entries deflated or stored, directory
// entries, and ZIP64 records only where sizes, offsets or counts need them.
//
// Errors: starting an entry under a name already written, or a raw copy that
// fails, gives Zip; writing entry data gives Io; finishing gives Zip.
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

    // Local header, data and central record of the input entry, byte for byte.
    Status copy_raw(const ZipReader& reader, std::size_t index);
    // The input entry's compressed bytes under a fresh header with the given
    // date and time: the CRC is checked by inflating first (Io on mismatch),
    // nothing is recompressed. Used where every entry must get a new timestamp.
    Status copy_with_new_timestamp(const ZipReader& reader, std::size_t index,
                                   const NewEntryOptions& options);
    Status add_entry(std::string_view name, std::string_view data, const NewEntryOptions& options);
    Status add_directory(std::string_view name, const NewEntryOptions& options);
    // Central directory and end records; no archive comment.
    Status finish();

    std::uint64_t entries_written() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace zandrel
