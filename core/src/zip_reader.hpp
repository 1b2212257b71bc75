// Reading ZIP archives: the central directory, entry lookup by name, whole or
// streamed entry reads with CRC and size checks, and the raw bytes of an entry
// for byte-faithful copies. Stored and Deflate entries only.
//
// Errors: opening the file gives Io (the operating system's text); a file that
// is not a ZIP archive or whose directory is damaged gives Zip. Opening an entry
// (bad local header, unsupported method, encryption) gives Zip; reading it
// (inflate failure, size or CRC mismatch) gives Io.
//
// Not thread-safe: one reader per call. Nothing is mapped; entries are read
// with positioned reads, so memory stays bounded by what the caller keeps.
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

    ZipReader(ZipReader&&) noexcept;
    ZipReader& operator=(ZipReader&&) noexcept;
    ~ZipReader();

    std::size_t entry_count() const;
    const ZipEntry& entry(std::size_t index) const;
    std::optional<std::size_t> find(std::string_view name) const;

    // Zip error when the entry cannot be opened.
    Result<OpenedEntry> open_entry(std::size_t index) const;
    // The whole uncompressed content; Io error on any read failure.
    Result<std::string> read_entry(const OpenedEntry& entry) const;
    // Streams the uncompressed content in chunks; Io error on any read failure
    // (reported after the last chunk when the CRC or size does not match).
    Status stream_entry(const OpenedEntry& entry,
                        const std::function<void(std::span<const char>)>& sink) const;
    // Checks the CRC and size by inflating without keeping the bytes.
    Status verify_entry(const OpenedEntry& entry) const;
    // Copies bytes [offset, offset + size) of the archive file; Io error.
    Status read_raw(std::uint64_t offset, std::uint64_t size,
                    const std::function<void(std::span<const char>)>& sink) const;

private:
    struct State;
    explicit ZipReader(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace zandrel
