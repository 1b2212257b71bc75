// Record layouts of the ZIP format and little-endian field access, shared by
// the reader and the writer. Loads never check bounds: callers check the
// record length first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zandrel::zip_format {

inline constexpr std::uint32_t local_header_signature = 0x04034b50;
inline constexpr std::uint32_t central_header_signature = 0x02014b50;
inline constexpr std::uint32_t end_record_signature = 0x06054b50;
inline constexpr std::uint32_t zip64_end_record_signature = 0x06064b50;
inline constexpr std::uint32_t zip64_locator_signature = 0x07064b50;
inline constexpr std::uint32_t data_descriptor_signature = 0x08074b50;

inline constexpr std::size_t local_header_size = 30;
inline constexpr std::size_t central_header_size = 46;
inline constexpr std::size_t end_record_size = 22;
inline constexpr std::size_t zip64_end_record_size = 56;
inline constexpr std::size_t zip64_locator_size = 20;
inline constexpr std::size_t max_end_comment = 0xffff;

inline constexpr std::uint16_t zip64_extra_id = 0x0001;
// A 16- or 32-bit field holding this value defers to the ZIP64 extra field.
inline constexpr std::uint16_t u16_saturated = 0xffff;
inline constexpr std::uint32_t u32_saturated = 0xffffffff;

inline constexpr std::uint16_t flag_encrypted = 0x0001;
inline constexpr std::uint16_t flag_data_descriptor = 0x0008;
inline constexpr std::uint16_t flag_utf8_name = 0x0800;

inline std::uint16_t load_u16(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                      static_cast<unsigned char>(bytes[at + 1]) << 8);
}

inline std::uint32_t load_u32(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint32_t>(load_u16(bytes, at)) |
           static_cast<std::uint32_t>(load_u16(bytes, at + 2)) << 16;
}

inline std::uint64_t load_u64(std::string_view bytes, std::size_t at) {
    return static_cast<std::uint64_t>(load_u32(bytes, at)) |
           static_cast<std::uint64_t>(load_u32(bytes, at + 4)) << 32;
}

inline void append_u16(std::string& out, std::uint16_t value) {
    out.push_back(static_cast<char>(value & 0xff));
    out.push_back(static_cast<char>(value >> 8));
}

inline void append_u32(std::string& out, std::uint32_t value) {
    append_u16(out, static_cast<std::uint16_t>(value & 0xffff));
    append_u16(out, static_cast<std::uint16_t>(value >> 16));
}

inline void append_u64(std::string& out, std::uint64_t value) {
    append_u32(out, static_cast<std::uint32_t>(value & 0xffffffff));
    append_u32(out, static_cast<std::uint32_t>(value >> 32));
}

// Where one block of an extra field lies: `offset` is the start of its
// payload within the field, `size` the payload length.
struct ExtraBlock {
    std::size_t header_offset = 0;
    std::size_t offset = 0;
    std::size_t size = 0;
};

// The first block with the given id. Scanning stops at a block whose declared
// length overruns the field: some writers pad extra fields with junk, which is
// tolerated rather than rejected.
inline std::optional<ExtraBlock> find_extra_block(std::string_view extra, std::uint16_t id) {
    std::size_t pos = 0;
    while (extra.size() - pos >= 4) {
        const std::uint16_t block_id = load_u16(extra, pos);
        const std::size_t size = load_u16(extra, pos + 2);
        if (extra.size() - pos - 4 < size) return std::nullopt;
        if (block_id == id) return ExtraBlock{pos, pos + 4, size};
        pos += 4 + size;
    }
    return std::nullopt;
}

}  // namespace zandrel::zip_format
