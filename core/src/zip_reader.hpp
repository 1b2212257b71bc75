// Reading ZIP archives: the central directory, entry lookup by name, whole or
// streamed entry reads with CRC and size checks, and the raw bytes of an entry
// for byte-faithful copies. Stored and Deflate entries only.
//
// Errors: opening the file gives Io (the operating system's text); a file that
// is not a ZIP archive or whose directory is damaged gives Zip. Opening an entry
// (bad local header, unsupported method, encryption) gives Zip; reading it
// (inflate failure, size or CRC mismatch) gives Io.
//
// Texts: ZipReader::open gives Zip "end of central directory record not found"
// for a file that is not an archive, "central directory lies outside the file",
// "truncated central directory", "invalid central directory header",
// "invalid zip64 end of central directory record", "invalid zip64 extra field
// in entry {name}". open_entry gives Zip "entry index {i} is out of range",
// "encrypted entries are not supported", "unsupported compression method {n}",
// "invalid local header of entry {name}", "entry {name} lies outside the file".
// Reads give Io "crc mismatch in entry {name}", "size mismatch in entry
// {name}", "invalid deflate data in entry {name}", "declared size of entry
// {name} exceeds what its compressed data can hold", "entry {name} is too
// large to hold in memory", "read outside the file", or the system's text.
//
// One reader serves one thread; `share` gives each further thread a reader of
// its own over the same open file and directory. Nothing is mapped; entries are read with positioned reads, so
// memory stays bounded by what the caller keeps.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "models.hpp"

namespace zandrel {

inline constexpr std::uint16_t zip_method_stored = 0;
inline constexpr std::uint16_t zip_method_deflate = 8;

// One central-directory record, with every field kept so a raw copy can
// reproduce it exactly.
struct ZipEntry {
    std::string name;
    std::uint16_t version_made_by = 0;
    std::uint16_t version_needed = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint16_t dos_time = 0;
    std::uint16_t dos_date = 0;
    std::uint32_t crc32 = 0;
    std::uint64_t compressed_size = 0;
    std::uint64_t uncompressed_size = 0;
    std::uint16_t internal_attributes = 0;
    std::uint32_t external_attributes = 0;
    std::uint64_t local_header_offset = 0;
    std::string central_extra;  // raw extra field of the central record
    std::string comment;        // raw entry comment
    std::uint16_t disk_number_start = 0;
    // Which fields the central record defers to its ZIP64 extra field (the
    // fixed field then holds all ones). Writers differ here, and a raw copy
    // keeps the record's own choice.
    bool uncompressed_size_in_zip64 = false;
    bool compressed_size_in_zip64 = false;
    bool local_header_offset_in_zip64 = false;
    bool disk_number_start_in_zip64 = false;

    bool is_directory() const { return !name.empty() && name.back() == '/'; }
};

// An entry whose local header was checked: where its compressed bytes lie.
struct OpenedEntry {
    std::size_t index = 0;
    std::uint64_t local_header_offset = 0;  // start of the local header
    std::uint64_t data_offset = 0;          // start of the compressed bytes
    std::uint64_t data_end = 0;             // end of compressed bytes and any data descriptor
};

class ZipReader {
public:
    static Result<ZipReader> open(const std::string& path);
    // Another reader of the same open file and directory, with buffers of its
    // own, for another thread. The file stays open while any of them lives.
    ZipReader share() const;

    ZipReader(ZipReader&&) noexcept;
    ZipReader& operator=(ZipReader&&) noexcept;
    ~ZipReader();

    std::size_t entry_count() const;
    // An index past the end gives an empty entry.
    const ZipEntry& entry(std::size_t index) const;
    // The first entry with exactly this name.
    std::optional<std::size_t> find(std::string_view name) const;

    // Zip error when the entry cannot be opened.
    Result<OpenedEntry> open_entry(std::size_t index) const;
    // Opens every entry as `open_entry` does, reading the local headers of
    // entries that lie close together with one read; the error of the first
    // entry, in directory order, that cannot be opened.
    Status open_every_entry() const;
    // The whole uncompressed content; Io error on any read failure.
    Result<std::string> read_entry(const OpenedEntry& entry) const;
    // Streams the uncompressed content in chunks; Io error on any read failure
    // (reported after the last chunk when the CRC or size does not match).
    // Stored entries are read 1 MiB at a time. Deflate entries are inflated
    // whole into a buffer of their declared size (checked first against what
    // the compressed bytes can hold) and handed over only once verified.
    Status stream_entry(const OpenedEntry& entry,
                        const std::function<void(std::span<const char>)>& sink) const;
    // Checks the CRC and size by inflating without keeping the bytes.
    Status verify_entry(const OpenedEntry& entry) const;
    // Copies bytes [offset, offset + size) of the archive file; Io error.
    Status read_raw(std::uint64_t offset, std::uint64_t size,
                    const std::function<void(std::span<const char>)>& sink) const;
    // Copies bytes [offset, offset + size) of the archive file to `fd` at its
    // current position, stopping at the first failure; Io error.
    Status copy_raw_to(std::uint64_t offset, std::uint64_t size, int fd) const;

private:
    struct Archive;
    struct Buffers;
    explicit ZipReader(std::shared_ptr<const Archive> archive);
    std::shared_ptr<const Archive> archive_;
    // Reused from entry to entry; the reason a reader serves one thread.
    std::unique_ptr<Buffers> buffers_;
};

}  // namespace zandrel
