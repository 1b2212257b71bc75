#include "zip_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <numeric>
#include <unordered_map>
#include <utility>

#include <libdeflate.h>

#include "zip_file_io.hpp"
#include "zip_format.hpp"

namespace zandrel {

using namespace zip_format;

namespace {

constexpr std::size_t chunk_size = std::size_t{1} << 20;
// Deflate cannot expand one compressed byte to more than 1032 bytes (a
// 258-byte match coded in two bits), so a larger declared size is a lie.
constexpr std::uint64_t max_deflate_ratio = 1032;

// Where the central directory lies, from the end records.
struct DirectoryLocation {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t count = 0;
};

bool range_within(std::uint64_t offset, std::uint64_t size, std::uint64_t limit) {
    return offset <= limit && size <= limit - offset;
}

// Reads the ZIP64 end record that the locator at `locator_offset` points to.
Result<DirectoryLocation> read_zip64_end(int fd, std::uint64_t locator_offset,
                                         std::string_view locator) {
    const std::uint64_t record_offset = load_u64(locator, 8);
    if (!range_within(record_offset, zip64_end_record_size, locator_offset))
        return ZandrelError::zip("invalid zip64 end of central directory record");
    std::string record(zip64_end_record_size, '\0');
    ZANDREL_CHECK(read_exact_at(fd, record.data(), record.size(), record_offset));
    if (load_u32(record, 0) != zip64_end_record_signature)
        return ZandrelError::zip("invalid zip64 end of central directory record");
    DirectoryLocation location{load_u64(record, 48), load_u64(record, 40), load_u64(record, 32)};
    if (!range_within(location.offset, location.size, record_offset))
        return ZandrelError::zip("central directory lies outside the file");
    return location;
}

// Interprets the end record at `tail[at]`, where `tail` holds the file's last
// bytes from `tail_offset` on, and the ZIP64 records when a locator precedes it.
Result<DirectoryLocation> read_end_records(int fd, std::string_view tail,
                                           std::uint64_t tail_offset, std::size_t at) {
    const std::uint64_t end_offset = tail_offset + at;
    if (end_offset >= zip64_locator_size) {
        const std::uint64_t locator_offset = end_offset - zip64_locator_size;
        std::string locator(zip64_locator_size, '\0');
        ZANDREL_CHECK(read_exact_at(fd, locator.data(), locator.size(), locator_offset));
        if (load_u32(locator, 0) == zip64_locator_signature)
            return read_zip64_end(fd, locator_offset, locator);
    }
    DirectoryLocation location{load_u32(tail, at + 16), load_u32(tail, at + 12), load_u16(tail, at + 10)};
    if (!range_within(location.offset, location.size, end_offset))
        return ZandrelError::zip("central directory lies outside the file");
    return location;
}

// Searches the end record backwards from the end of the file: an archive
// comment may follow it, and the comment itself may contain the signature, so
// the last candidate whose directory makes sense wins.
Result<DirectoryLocation> find_central_directory(int fd, std::uint64_t file_size) {
    const std::uint64_t tail_size = std::min<std::uint64_t>(file_size, end_record_size + max_end_comment);
    const std::uint64_t tail_offset = file_size - tail_size;
    std::string tail(static_cast<std::size_t>(tail_size), '\0');
    ZANDREL_CHECK(read_exact_at(fd, tail.data(), tail.size(), tail_offset));
    std::optional<ZandrelError> first_error;
    for (std::size_t at = tail.size() < end_record_size ? 0 : tail.size() - end_record_size + 1; at-- > 0;) {
        if (load_u32(tail, at) != end_record_signature) continue;
        if (tail.size() - at - end_record_size < load_u16(tail, at + 20)) continue;
        auto location = read_end_records(fd, tail, tail_offset, at);
        if (location) return location;
        if (!first_error) first_error = location.error();
    }
    if (first_error) return *first_error;
    return ZandrelError::zip("end of central directory record not found");
}

// Resolves the fields that the record defers to its ZIP64 extra field, in the
// order the format fixes: uncompressed size, compressed size, offset, disk.
Status apply_zip64_extra(ZipEntry& entry) {
    if (!entry.uncompressed_size_in_zip64 && !entry.compressed_size_in_zip64 &&
        !entry.local_header_offset_in_zip64 && !entry.disk_number_start_in_zip64)
        return {};
    const auto block = find_extra_block(entry.central_extra, zip64_extra_id);
    const ZandrelError invalid = ZandrelError::zip("invalid zip64 extra field in entry " + entry.name);
    if (!block) return invalid;
    std::string_view payload = std::string_view(entry.central_extra).substr(block->offset, block->size);
    auto take_u64 = [&payload](std::uint64_t& field) {
        if (payload.size() < 8) return false;
        field = load_u64(payload, 0);
        payload.remove_prefix(8);
        return true;
    };
    if (entry.uncompressed_size_in_zip64 && !take_u64(entry.uncompressed_size)) return invalid;
    if (entry.compressed_size_in_zip64 && !take_u64(entry.compressed_size)) return invalid;
    if (entry.local_header_offset_in_zip64 && !take_u64(entry.local_header_offset)) return invalid;
    if (entry.disk_number_start_in_zip64 && payload.size() < 4) return invalid;
    return {};
}

Result<std::vector<ZipEntry>> parse_central_directory(std::string_view directory, std::uint64_t count) {
    if (count > directory.size() / central_header_size)
        return ZandrelError::zip("truncated central directory");
    std::vector<ZipEntry> entries;
    entries.reserve(static_cast<std::size_t>(count));
    std::size_t pos = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (directory.size() - pos < central_header_size) return ZandrelError::zip("truncated central directory");
        const std::string_view record = directory.substr(pos);
        if (load_u32(record, 0) != central_header_signature)
            return ZandrelError::zip("invalid central directory header");
        const std::size_t name_length = load_u16(record, 28);
        const std::size_t extra_length = load_u16(record, 30);
        const std::size_t comment_length = load_u16(record, 32);
        const std::size_t record_size = central_header_size + name_length + extra_length + comment_length;
        if (record.size() < record_size) return ZandrelError::zip("truncated central directory");
        ZipEntry entry;
        entry.version_made_by = load_u16(record, 4);
        entry.version_needed = load_u16(record, 6);
        entry.flags = load_u16(record, 8);
        entry.method = load_u16(record, 10);
        entry.dos_time = load_u16(record, 12);
        entry.dos_date = load_u16(record, 14);
        entry.crc32 = load_u32(record, 16);
        entry.compressed_size = load_u32(record, 20);
        entry.uncompressed_size = load_u32(record, 24);
        entry.disk_number_start = load_u16(record, 34);
        entry.internal_attributes = load_u16(record, 36);
        entry.external_attributes = load_u32(record, 38);
        entry.local_header_offset = load_u32(record, 42);
        entry.name = record.substr(central_header_size, name_length);
        entry.central_extra = record.substr(central_header_size + name_length, extra_length);
        entry.comment = record.substr(central_header_size + name_length + extra_length, comment_length);
        entry.uncompressed_size_in_zip64 = entry.uncompressed_size == u32_saturated;
        entry.compressed_size_in_zip64 = entry.compressed_size == u32_saturated;
        entry.local_header_offset_in_zip64 = entry.local_header_offset == u32_saturated;
        entry.disk_number_start_in_zip64 = entry.disk_number_start == u16_saturated;
        ZANDREL_CHECK(apply_zip64_extra(entry));
        entries.push_back(std::move(entry));
        pos += record_size;
    }
    return entries;
}

// Length of the data descriptor at `tail` (the bytes after the compressed
// data): with or without its optional signature, with 4- or 8-byte sizes. The
// layout whose fields match the central record wins; otherwise the sizes are
// 8 bytes exactly when the entry uses ZIP64.
std::uint64_t data_descriptor_length(const ZipEntry& entry, std::string_view tail) {
    const bool has_signature = tail.size() >= 4 && load_u32(tail, 0) == data_descriptor_signature;
    const std::size_t start = has_signature ? 4 : 0;
    auto matches = [&](bool wide) {
        const std::size_t length = start + (wide ? 20 : 12);
        if (tail.size() < length || load_u32(tail, start) != entry.crc32) return false;
        if (wide)
            return load_u64(tail, start + 4) == entry.compressed_size &&
                   load_u64(tail, start + 12) == entry.uncompressed_size;
        return load_u32(tail, start + 4) == static_cast<std::uint32_t>(entry.compressed_size) &&
               load_u32(tail, start + 8) == static_cast<std::uint32_t>(entry.uncompressed_size);
    };
    bool wide = entry.compressed_size_in_zip64 || entry.uncompressed_size_in_zip64 ||
                entry.compressed_size >= u32_saturated || entry.uncompressed_size >= u32_saturated;
    if (matches(false))
        wide = false;
    else if (matches(true))
        wide = true;
    return start + (wide ? 20 : 12);
}

struct DecompressorDeleter {
    void operator()(libdeflate_decompressor* decompressor) const { libdeflate_free_decompressor(decompressor); }
};

}  // namespace

// Grown to the largest entry read and reused, so reading many entries does not
// fault in fresh pages for each one.
struct ZipReader::Buffers {
    std::unique_ptr<char[]> chunk;
    std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor;
    std::string compressed;
    std::unique_ptr<char[]> inflated;
    std::size_t inflated_capacity = 0;
};

namespace {

// Bytes of the file read ahead, from `offset` on.
struct FileWindow {
    std::uint64_t offset = 0;
    std::string bytes;

    bool covers(std::uint64_t at, std::uint64_t size) const {
        return at >= offset && at - offset <= bytes.size() && size <= bytes.size() - (at - offset);
    }
};

// Local headers that lie this close together are read with one read.
constexpr std::uint64_t header_window_span = 64 << 10;

}  // namespace

// The open file and its directory, never changed after `open`, so the readers
// that share it may use it from several threads at once.
struct ZipReader::Archive {
    int fd = -1;
    std::uint64_t file_size = 0;
    std::vector<ZipEntry> entries;
    // Keys view the names held by `entries`.
    std::unordered_map<std::string_view, std::size_t> index_by_name;

    Archive() = default;
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;
    ~Archive() {
        if (fd >= 0) ::close(fd);
    }

    // Reads [offset, offset + size) chunk by chunk through one reused buffer,
    // stopping at the first failure of the read or of `use`.
    Status for_each_chunk(std::uint64_t offset, std::uint64_t size, Buffers& buffers,
                          const std::function<Status(std::span<const char>)>& use) const {
        if (!range_within(offset, size, file_size)) return ZandrelError::io("read outside the file");
        auto& chunk = buffers.chunk;
        if (!chunk) chunk.reset(new char[chunk_size]);
        while (size > 0) {
            const std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(size, chunk_size));
            ZANDREL_CHECK(read_exact_at(fd, chunk.get(), part, offset));
            ZANDREL_CHECK(use(std::span<const char>(chunk.get(), part)));
            offset += part;
            size -= part;
        }
        return {};
    }

    // Bytes [offset, offset + size) from `window` where it holds them, else
    // from the file.
    Status read_at(char* out, std::size_t size, std::uint64_t offset, const FileWindow& window) const {
        if (!window.covers(offset, size)) return read_exact_at(fd, out, size, offset);
        std::memcpy(out, window.bytes.data() + (offset - window.offset), size);
        return {};
    }

    // The window holding the local header of the entry at `position` of
    // `in_file_order` and of those after it that start within the span; an
    // empty one when it cannot be read, so that each entry reads its own
    // header and meets its own error.
    FileWindow headers_window(std::span<const std::size_t> in_file_order, std::size_t position) const {
        FileWindow window;
        const std::uint64_t start = entries[in_file_order[position]].local_header_offset;
        if (start >= file_size) return window;
        std::uint64_t end = start;
        for (std::size_t next = position; next < in_file_order.size(); ++next) {
            const std::uint64_t header = entries[in_file_order[next]].local_header_offset;
            if (header - start >= header_window_span) break;
            end = std::max(end, header + local_header_size);
        }
        end = std::min(end, file_size);
        window.bytes.resize(static_cast<std::size_t>(end - start));
        if (!read_exact_at(fd, window.bytes.data(), window.bytes.size(), start)) return FileWindow{};
        window.offset = start;
        return window;
    }

    Result<OpenedEntry> open_entry(std::size_t index, const FileWindow& window) const;

    Status stream_entry(const OpenedEntry& opened, Buffers& buffers,
                        const std::function<void(std::span<const char>)>& sink) const;
    Status stream_stored(const ZipEntry& entry, std::uint64_t offset, Buffers& buffers,
                         const std::function<void(std::span<const char>)>& sink) const;
    Status stream_deflated(const ZipEntry& entry, std::uint64_t offset, Buffers& buffers,
                           const std::function<void(std::span<const char>)>& sink) const;
    // The entry's compressed bytes in the buffers, valid until their next use.
    Result<std::string_view> read_compressed(const ZipEntry& entry, std::uint64_t offset, Buffers& buffers) const;
    Status inflate_checked(const ZipEntry& entry, std::string_view compressed, Buffers& buffers,
                           const std::function<void(std::span<const char>)>& sink) const;
};

ZipReader::ZipReader(std::shared_ptr<const Archive> archive)
    : archive_(std::move(archive)), buffers_(std::make_unique<Buffers>()) {}
ZipReader::ZipReader(ZipReader&&) noexcept = default;
ZipReader& ZipReader::operator=(ZipReader&&) noexcept = default;
ZipReader::~ZipReader() = default;

Result<ZipReader> ZipReader::open(const std::string& path) {
    auto archive = std::make_shared<Archive>();
    archive->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (archive->fd < 0) return ZandrelError::io(system_error_text(errno));
    struct stat info {};
    if (::fstat(archive->fd, &info) != 0) return ZandrelError::io(system_error_text(errno));
    if (S_ISDIR(info.st_mode)) return ZandrelError::io(system_error_text(EISDIR));
    archive->file_size = static_cast<std::uint64_t>(info.st_size);

    ZANDREL_TRY(const DirectoryLocation location, find_central_directory(archive->fd, archive->file_size));
    std::string directory(static_cast<std::size_t>(location.size), '\0');
    ZANDREL_CHECK(read_exact_at(archive->fd, directory.data(), directory.size(), location.offset));
    ZANDREL_TRY(archive->entries, parse_central_directory(directory, location.count));
    archive->index_by_name.reserve(archive->entries.size());
    for (std::size_t i = 0; i < archive->entries.size(); ++i)
        archive->index_by_name.emplace(archive->entries[i].name, i);
    return ZipReader(std::move(archive));
}

ZipReader ZipReader::share() const { return ZipReader(archive_); }

std::size_t ZipReader::entry_count() const { return archive_->entries.size(); }

const ZipEntry& ZipReader::entry(std::size_t index) const {
    static const ZipEntry none;
    return index < archive_->entries.size() ? archive_->entries[index] : none;
}

std::optional<std::size_t> ZipReader::find(std::string_view name) const {
    const auto found = archive_->index_by_name.find(name);
    if (found == archive_->index_by_name.end()) return std::nullopt;
    return found->second;
}

Result<OpenedEntry> ZipReader::open_entry(std::size_t index) const { return archive_->open_entry(index, {}); }

Status ZipReader::open_every_entry() const {
    const auto& entries = archive_->entries;
    std::vector<std::size_t> in_file_order(entries.size());
    std::iota(in_file_order.begin(), in_file_order.end(), std::size_t{0});
    std::stable_sort(in_file_order.begin(), in_file_order.end(), [&entries](std::size_t a, std::size_t b) {
        return entries[a].local_header_offset < entries[b].local_header_offset;
    });
    std::optional<std::size_t> first_failed;
    std::optional<ZandrelError> failure;
    FileWindow window;
    for (std::size_t position = 0; position < in_file_order.size(); ++position) {
        const std::size_t index = in_file_order[position];
        // a header outside the file fails without a read, so it never asks
        // for a window (a hostile directory may point thousands there)
        const std::uint64_t header = entries[index].local_header_offset;
        if (range_within(header, local_header_size, archive_->file_size) && !window.covers(header, local_header_size))
            window = archive_->headers_window(in_file_order, position);
        auto opened = archive_->open_entry(index, window);
        if (!opened && (!first_failed || index < *first_failed)) {
            first_failed = index;
            failure = opened.error();
        }
    }
    if (failure) return *failure;
    return {};
}

Result<OpenedEntry> ZipReader::Archive::open_entry(std::size_t index, const FileWindow& window) const {
    if (index >= entries.size())
        return ZandrelError::zip("entry index " + std::to_string(index) + " is out of range");
    const ZipEntry& entry = entries[index];
    if (entry.flags & flag_encrypted) return ZandrelError::zip("encrypted entries are not supported");
    if (entry.method != zip_method_stored && entry.method != zip_method_deflate)
        return ZandrelError::zip("unsupported compression method " + std::to_string(entry.method));
    // built only when needed: entries are opened by the thousand
    auto outside = [&entry] { return ZandrelError::zip("entry " + entry.name + " lies outside the file"); };
    if (!range_within(entry.local_header_offset, local_header_size, file_size)) return outside();

    char header_bytes[local_header_size];
    ZANDREL_CHECK(read_at(header_bytes, local_header_size, entry.local_header_offset, window));
    const std::string_view header(header_bytes, local_header_size);
    if (load_u32(header, 0) != local_header_signature)
        return ZandrelError::zip("invalid local header of entry " + entry.name);
    OpenedEntry opened;
    opened.index = index;
    opened.local_header_offset = entry.local_header_offset;
    opened.data_offset = entry.local_header_offset + local_header_size + load_u16(header, 26) + load_u16(header, 28);
    if (!range_within(opened.data_offset, entry.compressed_size, file_size)) return outside();
    opened.data_end = opened.data_offset + entry.compressed_size;
    if (entry.flags & flag_data_descriptor) {
        std::string tail(static_cast<std::size_t>(std::min<std::uint64_t>(24, file_size - opened.data_end)), '\0');
        ZANDREL_CHECK(read_at(tail.data(), tail.size(), opened.data_end, window));
        const std::uint64_t length = data_descriptor_length(entry, tail);
        if (length > tail.size()) return outside();
        opened.data_end += length;
    }
    return opened;
}

Status ZipReader::Archive::stream_stored(const ZipEntry& entry, std::uint64_t offset,
                                       Buffers& buffers,
                                       const std::function<void(std::span<const char>)>& sink) const {
    std::uint32_t crc = 0;
    ZANDREL_CHECK(for_each_chunk(offset, entry.compressed_size, buffers, [&](std::span<const char> chunk) -> Status {
        crc = libdeflate_crc32(crc, chunk.data(), chunk.size());
        sink(chunk);
        return {};
    }));
    if (entry.compressed_size != entry.uncompressed_size)
        return ZandrelError::io("size mismatch in entry " + entry.name);
    if (crc != entry.crc32) return ZandrelError::io("crc mismatch in entry " + entry.name);
    return {};
}

Status ZipReader::Archive::stream_deflated(const ZipEntry& entry, std::uint64_t offset,
                                         Buffers& buffers,
                                         const std::function<void(std::span<const char>)>& sink) const {
    ZANDREL_TRY(const std::string_view compressed, read_compressed(entry, offset, buffers));
    return inflate_checked(entry, compressed, buffers, sink);
}

Result<std::string_view> ZipReader::Archive::read_compressed(const ZipEntry& entry, std::uint64_t offset,
                                                           Buffers& buffers) const {
    if (entry.compressed_size > SIZE_MAX)
        return ZandrelError::io("entry " + entry.name + " is too large to hold in memory");
    const auto size = static_cast<std::size_t>(entry.compressed_size);
    try {
        if (buffers.compressed.size() < size) buffers.compressed.resize(size);
    } catch (const std::bad_alloc&) {
        return ZandrelError::io("entry " + entry.name + " is too large to hold in memory");
    }
    ZANDREL_CHECK(read_exact_at(fd, buffers.compressed.data(), size, offset));
    return std::string_view(buffers.compressed.data(), size);
}

Status ZipReader::Archive::inflate_checked(const ZipEntry& entry, std::string_view compressed,
                                         Buffers& buffers,
                                         const std::function<void(std::span<const char>)>& sink) const {
    // libdeflate inflates whole buffers only, so the declared size decides the
    // output buffer: bound it by the compressed size first, and allocate
    // without touching the pages so a lie costs address space, not memory.
    const std::uint64_t declared_size = entry.uncompressed_size;
    if (declared_size / max_deflate_ratio > compressed.size())
        return ZandrelError::io("declared size of entry " + entry.name +
                                " exceeds what its compressed data can hold");
    const ZandrelError too_large = ZandrelError::io("entry " + entry.name + " is too large to hold in memory");
    if (declared_size > SIZE_MAX) return too_large;
    if (buffers.inflated_capacity < declared_size || !buffers.inflated) {
        const auto capacity = static_cast<std::size_t>(std::max<std::uint64_t>(declared_size, 1));
        buffers.inflated.reset(new (std::nothrow) char[capacity]);
        buffers.inflated_capacity = buffers.inflated ? capacity : 0;
        if (!buffers.inflated) return too_large;
    }
    char* output = buffers.inflated.get();

    auto& decompressor = buffers.decompressor;
    if (!decompressor) decompressor.reset(libdeflate_alloc_decompressor());
    if (!decompressor) return too_large;
    std::size_t produced = 0;
    const libdeflate_result result =
        libdeflate_deflate_decompress_ex(decompressor.get(), compressed.data(), compressed.size(),
                                         output, static_cast<std::size_t>(declared_size), nullptr, &produced);
    if (result == LIBDEFLATE_INSUFFICIENT_SPACE || (result == LIBDEFLATE_SUCCESS && produced != declared_size))
        return ZandrelError::io("size mismatch in entry " + entry.name);
    if (result != LIBDEFLATE_SUCCESS) return ZandrelError::io("invalid deflate data in entry " + entry.name);
    if (libdeflate_crc32(0, output, produced) != entry.crc32)
        return ZandrelError::io("crc mismatch in entry " + entry.name);
    for (std::size_t pos = 0; pos < produced; pos += chunk_size)
        sink(std::span<const char>(output + pos, std::min(chunk_size, produced - pos)));
    return {};
}

Status ZipReader::Archive::stream_entry(const OpenedEntry& opened, Buffers& buffers,
                                      const std::function<void(std::span<const char>)>& sink) const {
    if (opened.index >= entries.size())
        return ZandrelError::io("entry index " + std::to_string(opened.index) + " is out of range");
    const ZipEntry& entry = entries[opened.index];
    if (!range_within(opened.data_offset, entry.compressed_size, file_size))
        return ZandrelError::io("read outside the file");
    if (entry.method == zip_method_deflate) return stream_deflated(entry, opened.data_offset, buffers, sink);
    if (entry.method == zip_method_stored) return stream_stored(entry, opened.data_offset, buffers, sink);
    return ZandrelError::io("unsupported compression method " + std::to_string(entry.method));
}

Status ZipReader::stream_entry(const OpenedEntry& opened,
                               const std::function<void(std::span<const char>)>& sink) const {
    return archive_->stream_entry(opened, *buffers_, sink);
}

Result<std::string> ZipReader::read_entry(const OpenedEntry& opened) const {
    std::string content;
    const ZipEntry& entry = this->entry(opened.index);
    // Stored sizes are bounded by the file; a Deflate entry arrives verified,
    // so its declared size is then true.
    if (entry.method == zip_method_stored && entry.compressed_size <= archive_->file_size)
        content.reserve(static_cast<std::size_t>(entry.compressed_size));
    bool reserved = entry.method == zip_method_stored;
    ZANDREL_CHECK(stream_entry(opened, [&](std::span<const char> chunk) {
        if (!reserved) content.reserve(static_cast<std::size_t>(entry.uncompressed_size));
        reserved = true;
        content.append(chunk.data(), chunk.size());
    }));
    return content;
}

Status ZipReader::verify_entry(const OpenedEntry& opened) const {
    return archive_->stream_entry(opened, *buffers_, [](std::span<const char>) {});
}

Status ZipReader::read_raw(std::uint64_t offset, std::uint64_t size,
                           const std::function<void(std::span<const char>)>& sink) const {
    return archive_->for_each_chunk(offset, size, *buffers_, [&sink](std::span<const char> chunk) -> Status {
        sink(chunk);
        return {};
    });
}

Status ZipReader::copy_raw_to(std::uint64_t offset, std::uint64_t size, int fd) const {
    if (!range_within(offset, size, archive_->file_size)) return ZandrelError::io("read outside the file");
    // the kernel moves the bytes where it can, as a file copy does
    ZANDREL_TRY(const std::uint64_t copied, copy_in_kernel(archive_->fd, offset, size, fd));
    return archive_->for_each_chunk(offset + copied, size - copied, *buffers_,
                                  [fd](std::span<const char> chunk) {
        return write_all(fd, chunk.data(), chunk.size());
    });
}

}  // namespace zandrel
