// Helpers of the ZIP tests: archives laid out byte by byte (so headers can
// lie), independent checks through Python's zipfile and unzip, and byte
// ranges of files.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include <libdeflate.h>

#include "test_support.hpp"
#include "zip_format.hpp"
#include "zip_reader.hpp"

namespace zandrel::testing {

// One entry of a hand-made archive; every header field can be set to lie.
struct RawEntry {
    std::string name;
    std::string data;  // the stored bytes, already compressed for Deflate
    std::uint16_t method = zip_method_stored;
    std::uint16_t flags = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressed_size = 0;
    std::uint64_t uncompressed_size = 0;
    bool descriptor_signature = true;  // used with flag bit 3
    std::string central_extra;
    std::optional<std::uint32_t> local_signature;  // replaces the real one
    std::optional<std::uint32_t> local_header_offset;  // replaces the real one
};

inline std::uint32_t crc32_of(std::string_view bytes) { return libdeflate_crc32(0, bytes.data(), bytes.size()); }

inline RawEntry stored_entry(std::string name, std::string content) {
    RawEntry entry{std::move(name), content};
    entry.crc = crc32_of(content);
    entry.compressed_size = entry.uncompressed_size = content.size();
    return entry;
}

inline RawEntry deflated_entry(std::string name, const std::string& content) {
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(6);
    std::string compressed(libdeflate_deflate_compress_bound(compressor, content.size()), '\0');
    compressed.resize(
        libdeflate_deflate_compress(compressor, content.data(), content.size(), compressed.data(), compressed.size()));
    libdeflate_free_compressor(compressor);
    RawEntry entry{std::move(name), compressed, zip_method_deflate};
    entry.crc = crc32_of(content);
    entry.compressed_size = compressed.size();
    entry.uncompressed_size = content.size();
    return entry;
}

// Local headers, data (and descriptors), central directory and end record,
// with 32-bit fields only.
inline std::string raw_archive(const std::vector<RawEntry>& entries, std::string_view comment = {}) {
    using namespace zip_format;
    std::string archive;
    std::string directory;
    for (const RawEntry& entry : entries) {
        const auto offset = static_cast<std::uint32_t>(archive.size());
        const bool descriptor = entry.flags & flag_data_descriptor;
        append_u32(archive, entry.local_signature.value_or(local_header_signature));
        append_u16(archive, 20);
        append_u16(archive, entry.flags);
        append_u16(archive, entry.method);
        append_u32(archive, 0x00210000);  // 1980-01-01 00:00
        append_u32(archive, descriptor ? 0 : entry.crc);
        append_u32(archive, descriptor ? 0 : static_cast<std::uint32_t>(entry.compressed_size));
        append_u32(archive, descriptor ? 0 : static_cast<std::uint32_t>(entry.uncompressed_size));
        append_u16(archive, static_cast<std::uint16_t>(entry.name.size()));
        append_u16(archive, 0);
        archive += entry.name;
        archive += entry.data;
        if (descriptor) {
            if (entry.descriptor_signature) append_u32(archive, data_descriptor_signature);
            append_u32(archive, entry.crc);
            append_u32(archive, static_cast<std::uint32_t>(entry.compressed_size));
            append_u32(archive, static_cast<std::uint32_t>(entry.uncompressed_size));
        }
        append_u32(directory, central_header_signature);
        append_u16(directory, 20);
        append_u16(directory, 20);
        append_u16(directory, entry.flags);
        append_u16(directory, entry.method);
        append_u32(directory, 0x00210000);
        append_u32(directory, entry.crc);
        append_u32(directory, static_cast<std::uint32_t>(entry.compressed_size));
        append_u32(directory, static_cast<std::uint32_t>(entry.uncompressed_size));
        append_u16(directory, static_cast<std::uint16_t>(entry.name.size()));
        append_u16(directory, static_cast<std::uint16_t>(entry.central_extra.size()));
        append_u32(directory, 0);  // comment length, disk
        append_u16(directory, 0);
        append_u32(directory, 0);
        append_u32(directory, entry.local_header_offset.value_or(offset));
        directory += entry.name;
        directory += entry.central_extra;
    }
    const auto directory_offset = static_cast<std::uint32_t>(archive.size());
    archive += directory;
    append_u32(archive, end_record_signature);
    append_u32(archive, 0);
    append_u16(archive, static_cast<std::uint16_t>(entries.size()));
    append_u16(archive, static_cast<std::uint16_t>(entries.size()));
    append_u32(archive, static_cast<std::uint32_t>(directory.size()));
    append_u32(archive, directory_offset);
    append_u16(archive, static_cast<std::uint16_t>(comment.size()));
    archive += comment;
    return archive;
}

inline bool tool_available(const std::string& command) {
    return std::system(("command -v " + command + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::string shell_quote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

inline std::string quoted_paths(const std::vector<std::string>& paths) {
    std::string joined;
    for (const auto& path : paths) joined += " " + shell_quote(path);
    return joined;
}

// Python's zipfile reads every entry of every archive and checks its CRC; the
// paths it rejects (one interpreter for all: starting one is slow here).
inline std::vector<std::string> python_zipfile_rejects(const std::vector<std::string>& paths,
                                                       const TempDir& temp) {
    const std::string out = temp.file("rejected.txt");
    const std::string command =
        "python3 -c 'import zipfile,sys\n"
        "for p in sys.argv[1:]:\n"
        "    try:\n"
        "        bad = zipfile.ZipFile(p).testzip() is not None\n"
        "    except Exception:\n"
        "        bad = True\n"
        "    if bad: print(p)'" +
        quoted_paths(paths) + " > " + shell_quote(out);
    if (std::system(command.c_str()) != 0) return {"python failed"};
    std::vector<std::string> rejected;
    std::istringstream lines(read_file(out));
    for (std::string line; std::getline(lines, line);) rejected.push_back(line);
    return rejected;
}

inline bool python_zipfile_accepts(const std::string& path, const TempDir& temp) {
    return python_zipfile_rejects({path}, temp).empty();
}

inline bool unzip_accepts(const std::string& path) {
    return std::system(("unzip -tqq " + shell_quote(path) + " >/dev/null 2>&1").c_str()) == 0;
}

// For each archive a line "== path", then "index<TAB>size<TAB>sha256" for
// every entry, as Python's zipfile and hashlib see them.
inline std::string python_entry_digests(const std::vector<std::string>& paths, const TempDir& temp) {
    const std::string out = temp.file("digests.txt");
    const std::string command =
        "python3 -c 'import zipfile,sys,hashlib\n"
        "for p in sys.argv[1:]:\n"
        "    print(\"== \" + p)\n"
        "    z=zipfile.ZipFile(p)\n"
        "    for i,info in enumerate(z.infolist()):\n"
        "        data=z.read(info)\n"
        "        print(f\"{i}\\t{len(data)}\\t{hashlib.sha256(data).hexdigest()}\")'" +
        quoted_paths(paths) + " > " + shell_quote(out) + " 2>/dev/null";
    if (std::system(command.c_str()) != 0) return "python failed";
    return read_file(out);
}

// Replaces a file's content. The old file is unlinked first: rewriting a
// truncated file makes ext4 flush it on close, which made loops crawl.
inline void replace_file(const std::string& path, const std::string& content) {
    std::filesystem::remove(path);
    write_file(path, content);
}

inline std::string byte_range(const std::string& file, std::uint64_t begin, std::uint64_t end) {
    if (begin > end || end > file.size()) return "<range outside the file>";
    return file.substr(static_cast<std::size_t>(begin), static_cast<std::size_t>(end - begin));
}

}  // namespace zandrel::testing
