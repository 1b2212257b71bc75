#include "zip_writer.hpp"

#include <unistd.h>

#include <functional>
#include <utility>
#include <vector>

#include <libdeflate.h>

#include "zip_file_io.hpp"
#include "zip_format.hpp"

namespace zandrel {

using namespace zip_format;

namespace {

// The fastest level: rewritten parts are XML that compresses within a few
// percent of the slow levels, at well under half the time.
constexpr int deflate_level = 1;
constexpr std::uint16_t version_default = 20;
constexpr std::uint16_t version_zip64 = 45;
constexpr std::uint32_t msdos_directory_attribute = 0x10;
// Flags a fresh header keeps from the entry it re-times: the name encoding and
// the Deflate option bits. The data descriptor bit goes: sizes are in the header.
constexpr std::uint16_t kept_flags = flag_utf8_name | 0x0006;

bool needs_zip64(std::uint64_t value) { return value >= u32_saturated; }

std::uint32_t fixed_u32(bool in_zip64, std::uint64_t value) {
    return in_zip64 ? u32_saturated : static_cast<std::uint32_t>(value);
}

// The central record of `entry`, whose ZIP64 flags say which fixed fields
// hold all ones; `entry.central_extra` must already carry those values.
std::string central_record(const ZipEntry& entry) {
    std::string record;
    record.reserve(central_header_size + entry.name.size() + entry.central_extra.size() + entry.comment.size());
    append_u32(record, central_header_signature);
    append_u16(record, entry.version_made_by);
    append_u16(record, entry.version_needed);
    append_u16(record, entry.flags);
    append_u16(record, entry.method);
    append_u16(record, entry.dos_time);
    append_u16(record, entry.dos_date);
    append_u32(record, entry.crc32);
    append_u32(record, fixed_u32(entry.compressed_size_in_zip64, entry.compressed_size));
    append_u32(record, fixed_u32(entry.uncompressed_size_in_zip64, entry.uncompressed_size));
    append_u16(record, static_cast<std::uint16_t>(entry.name.size()));
    append_u16(record, static_cast<std::uint16_t>(entry.central_extra.size()));
    append_u16(record, static_cast<std::uint16_t>(entry.comment.size()));
    append_u16(record, entry.disk_number_start_in_zip64 ? u16_saturated : entry.disk_number_start);
    append_u16(record, entry.internal_attributes);
    append_u32(record, entry.external_attributes);
    append_u32(record, fixed_u32(entry.local_header_offset_in_zip64, entry.local_header_offset));
    record += entry.name;
    record += entry.central_extra;
    record += entry.comment;
    return record;
}

// Points a copied central record at its new local header. The offset moves
// into (or within) the ZIP64 extra field when the record already keeps it
// there or when it no longer fits 32 bits; every other byte stays.
Status relocate(ZipEntry& entry, std::uint64_t offset) {
    entry.local_header_offset = offset;
    if (!entry.local_header_offset_in_zip64 && !needs_zip64(offset)) return {};
    std::string value;
    append_u64(value, offset);
    const std::size_t position = 8 * (std::size_t{entry.uncompressed_size_in_zip64} + entry.compressed_size_in_zip64);
    std::string& extra = entry.central_extra;
    const auto block = find_extra_block(extra, zip64_extra_id);
    if (entry.local_header_offset_in_zip64 && block && block->size >= position + 8) {
        extra.replace(block->offset + position, 8, value);
        return {};
    }
    if (extra.size() + 12 > u16_saturated)
        return ZandrelError::zip("extra field of entry " + entry.name + " has no room for a zip64 offset");
    if (block && block->size >= position) {
        std::string size;
        append_u16(size, static_cast<std::uint16_t>(block->size + 8));
        extra.replace(block->header_offset + 2, 2, size);
        extra.insert(block->offset + position, value);
    } else {
        append_u16(extra, zip64_extra_id);
        append_u16(extra, 8);
        extra += value;
    }
    entry.local_header_offset_in_zip64 = true;
    return {};
}

// A header for an entry written anew: ZIP64 sizes only when they need it.
ZipEntry fresh_entry(std::string_view name, std::uint16_t method, const NewEntryOptions& options,
                     std::uint32_t crc, std::uint64_t compressed_size, std::uint64_t uncompressed_size) {
    ZipEntry entry;
    entry.name = name;
    const bool zip64 = needs_zip64(compressed_size) || needs_zip64(uncompressed_size);
    entry.version_made_by = zip64 ? version_zip64 : version_default;
    entry.version_needed = entry.version_made_by;
    for (const char c : name)
        if (static_cast<unsigned char>(c) >= 0x80) entry.flags = flag_utf8_name;
    entry.method = method;
    entry.dos_time = options.dos_time;
    entry.dos_date = options.dos_date;
    entry.crc32 = crc;
    entry.compressed_size = compressed_size;
    entry.uncompressed_size = uncompressed_size;
    entry.compressed_size_in_zip64 = zip64;
    entry.uncompressed_size_in_zip64 = zip64;
    if (zip64) {
        append_u16(entry.central_extra, zip64_extra_id);
        append_u16(entry.central_extra, 16);
        append_u64(entry.central_extra, uncompressed_size);
        append_u64(entry.central_extra, compressed_size);
    }
    return entry;
}

// The local header matching a fresh entry; its extra field is the ZIP64 sizes
// of the central record, if any.
std::string local_header(const ZipEntry& entry) {
    std::string header;
    append_u32(header, local_header_signature);
    append_u16(header, entry.version_needed);
    append_u16(header, entry.flags);
    append_u16(header, entry.method);
    append_u16(header, entry.dos_time);
    append_u16(header, entry.dos_date);
    append_u32(header, entry.crc32);
    append_u32(header, fixed_u32(entry.compressed_size_in_zip64, entry.compressed_size));
    append_u32(header, fixed_u32(entry.uncompressed_size_in_zip64, entry.uncompressed_size));
    append_u16(header, static_cast<std::uint16_t>(entry.name.size()));
    append_u16(header, static_cast<std::uint16_t>(entry.central_extra.size()));
    header += entry.name;
    header += entry.central_extra;
    return header;
}

struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
};

struct CompressorDeleter {
    void operator()(libdeflate_compressor* compressor) const { libdeflate_free_compressor(compressor); }
};

}  // namespace

struct ZipWriter::State {
    int fd = -1;
    std::uint64_t offset = 0;
    std::uint64_t count = 0;
    std::string central_directory;
    std::unordered_set<std::string, NameHash, std::equal_to<>> names;
    bool finished = false;
    bool failed = false;
    std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor;

    // Refuses work after finish() or after a failure left a partial entry,
    // and a name already written.
    Status check_start(std::string_view name) const {
        if (finished) return ZandrelError::zip("the archive is already finished");
        if (failed) return ZandrelError::zip("the archive is unusable after an earlier failure");
        if (name.size() > u16_saturated) return ZandrelError::zip("entry name is too long: " + std::string(name));
        if (names.contains(name)) return ZandrelError::zip("duplicate entry name " + std::string(name));
        return {};
    }

    // Raw copies of entries that lie back to back in the input are merged and
    // handed to the kernel as one copy when something else must be written.
    struct PendingCopy {
        const ZipReader* reader = nullptr;
        std::uint64_t from = 0;
        std::uint64_t size = 0;
    } pending;

    // A failure marks the archive unusable: part of an entry may be out.
    Status write(std::string_view bytes) {
        ZANDREL_CHECK(flush_raw_copies());
        const Status status = write_all(fd, bytes.data(), bytes.size());
        if (!status) failed = true;
        offset += bytes.size();
        return status;
    }

    Status copy_now(const ZipReader& reader, std::uint64_t from, std::uint64_t size) {
        ZANDREL_CHECK(flush_raw_copies());
        const Status status = reader.copy_raw_to(from, size, fd);
        if (!status) failed = true;
        offset += size;
        return status;
    }

    Status copy_later(const ZipReader& reader, std::uint64_t from, std::uint64_t size) {
        if (pending.size > 0 && (pending.reader != &reader || pending.from + pending.size != from))
            ZANDREL_CHECK(flush_raw_copies());
        if (pending.size == 0) pending = {&reader, from, 0};
        pending.size += size;
        offset += size;
        return {};
    }

    // A raw copy that fails is a Zip error, whichever call it surfaces in.
    Status flush_raw_copies() {
        if (pending.size == 0) return {};
        const PendingCopy copy = std::exchange(pending, {});
        const Status status = copy.reader->copy_raw_to(copy.from, copy.size, fd);
        if (status) return {};
        failed = true;
        return ZandrelError::zip(status.error().detail);
    }

    // Writes a fresh entry's local header, built before the central record
    // learns its offset (the local ZIP64 field holds sizes only).
    Status write_local_header(ZipEntry& entry) {
        const std::string header = local_header(entry);
        ZANDREL_CHECK(relocate(entry, offset));
        return write(header);
    }

    void add_central_record(const ZipEntry& entry) {
        central_directory += central_record(entry);
        names.insert(entry.name);
        ++count;
    }
};

ZipWriter::ZipWriter(int fd) : state_(std::make_unique<State>()) {
    state_->fd = fd;
    // Offsets count from the start of the file, wherever the caller left it.
    const off_t start = ::lseek(fd, 0, SEEK_CUR);
    state_->offset = start > 0 ? static_cast<std::uint64_t>(start) : 0;
}

ZipWriter::ZipWriter(ZipWriter&&) noexcept = default;
ZipWriter::~ZipWriter() = default;

std::uint64_t ZipWriter::entries_written() const { return state_->count; }

Status ZipWriter::copy_raw(const ZipReader& reader, std::size_t index) {
    ZANDREL_TRY(const OpenedEntry opened, reader.open_entry(index));
    return copy_raw(reader, opened);
}

Status ZipWriter::copy_raw(const ZipReader& reader, const OpenedEntry& opened) {
    const ZipEntry& input = reader.entry(opened.index);
    ZANDREL_CHECK(state_->check_start(input.name));
    ZipEntry output = input;
    ZANDREL_CHECK(relocate(output, state_->offset));
    ZANDREL_CHECK(state_->copy_later(reader, opened.local_header_offset, opened.data_end - opened.local_header_offset));
    state_->add_central_record(output);
    return {};
}

Status ZipWriter::copy_unverified_with_new_timestamp(const ZipReader& reader, std::size_t index,
                                                     const NewEntryOptions& options) {
    ZANDREL_TRY(const OpenedEntry opened, reader.open_entry(index));
    return copy_unverified_with_new_timestamp(reader, opened, options);
}

Status ZipWriter::copy_unverified_with_new_timestamp(const ZipReader& reader, const OpenedEntry& opened,
                                                     const NewEntryOptions& options) {
    const ZipEntry& input = reader.entry(opened.index);
    ZANDREL_CHECK(state_->check_start(input.name));
    ZipEntry output = fresh_entry(input.name, input.method, options, input.crc32, input.compressed_size,
                                  input.uncompressed_size);
    output.flags = input.flags & kept_flags;
    ZANDREL_CHECK(state_->write_local_header(output));
    ZANDREL_CHECK(state_->copy_now(reader, opened.data_offset, input.compressed_size));
    state_->add_central_record(output);
    return {};
}

Status ZipWriter::add_entry(std::string_view name, std::string_view data, const NewEntryOptions& options) {
    if (options.method != zip_method_stored && options.method != zip_method_deflate)
        return ZandrelError::zip("unsupported compression method " + std::to_string(options.method));
    ZANDREL_CHECK(state_->check_start(name));
    const std::uint32_t crc = libdeflate_crc32(0, data.data(), data.size());
    std::vector<char> compressed;
    std::string_view stored = data;
    if (options.method == zip_method_deflate) {
        if (!state_->compressor) state_->compressor.reset(libdeflate_alloc_compressor(deflate_level));
        if (!state_->compressor) return ZandrelError::io("out of memory for the deflate compressor");
        compressed.resize(libdeflate_deflate_compress_bound(state_->compressor.get(), data.size()));
        const std::size_t size = libdeflate_deflate_compress(state_->compressor.get(), data.data(), data.size(),
                                                             compressed.data(), compressed.size());
        if (size == 0) return ZandrelError::io("deflate failed for entry " + std::string(name));
        stored = std::string_view(compressed.data(), size);
    }
    ZipEntry entry = fresh_entry(name, options.method, options, crc, stored.size(), data.size());
    ZANDREL_CHECK(state_->write_local_header(entry));
    ZANDREL_CHECK(state_->write(stored));
    state_->add_central_record(entry);
    return {};
}

Status ZipWriter::add_directory(std::string_view name, const NewEntryOptions& options) {
    if (name.empty() || name.back() != '/')
        return ZandrelError::zip("directory entry name must end with '/': " + std::string(name));
    ZANDREL_CHECK(state_->check_start(name));
    ZipEntry entry = fresh_entry(name, zip_method_stored, options, 0, 0, 0);
    entry.external_attributes = msdos_directory_attribute;
    ZANDREL_CHECK(state_->write_local_header(entry));
    state_->add_central_record(entry);
    return {};
}

Status ZipWriter::finish() {
    State& state = *state_;
    if (state.finished) return ZandrelError::zip("the archive is already finished");
    if (state.failed) return ZandrelError::zip("the archive is unusable after an earlier failure");
    state.finished = true;
    const std::uint64_t directory_offset = state.offset;
    const std::uint64_t directory_size = state.central_directory.size();
    std::string end;
    const bool zip64 = state.count >= u16_saturated || needs_zip64(directory_offset) || needs_zip64(directory_size);
    if (zip64) {
        const std::uint64_t zip64_end_offset = directory_offset + directory_size;
        append_u32(end, zip64_end_record_signature);
        append_u64(end, zip64_end_record_size - 12);
        append_u16(end, version_zip64);
        append_u16(end, version_zip64);
        append_u32(end, 0);  // this disk
        append_u32(end, 0);  // disk holding the directory
        append_u64(end, state.count);
        append_u64(end, state.count);
        append_u64(end, directory_size);
        append_u64(end, directory_offset);
        append_u32(end, zip64_locator_signature);
        append_u32(end, 0);
        append_u64(end, zip64_end_offset);
        append_u32(end, 1);  // total disks
    }
    const std::uint16_t count = state.count >= u16_saturated ? u16_saturated : static_cast<std::uint16_t>(state.count);
    append_u32(end, end_record_signature);
    append_u16(end, 0);
    append_u16(end, 0);
    append_u16(end, count);
    append_u16(end, count);
    append_u32(end, fixed_u32(needs_zip64(directory_size), directory_size));
    append_u32(end, fixed_u32(needs_zip64(directory_offset), directory_offset));
    append_u16(end, 0);  // no archive comment
    Status written = state.write(state.central_directory);
    if (written) written = state.write(end);
    if (!written) return ZandrelError::zip(written.error().detail);
    return {};
}

}  // namespace zandrel
