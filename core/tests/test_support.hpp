// Helpers shared by the C++ tests: temporary folders, whole-file reads, and
// small archives built from (name, content) pairs with our own writer.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "package_reader.hpp"
#include "zip_writer.hpp"

namespace zandrel::testing {

inline const std::filesystem::path corpus_dir{ZANDREL_CORPUS_DIR};

// Skips the current test where the real-world decks are not beside the repo.
#define ZANDREL_REQUIRE_CORPUS()                                                         \
    if (!std::filesystem::is_directory(::zandrel::testing::corpus_dir))                  \
    GTEST_SKIP() << "corpus not found at " << ::zandrel::testing::corpus_dir

// Every deck of the corpus that is a valid package: the top level and derived/.
inline std::vector<std::filesystem::path> valid_corpus_decks() {
    std::vector<std::filesystem::path> decks;
    for (const auto& folder : {corpus_dir, corpus_dir / "derived"})
        for (const auto& item : std::filesystem::directory_iterator(folder))
            if (item.is_regular_file() && item.path().extension().string().starts_with(".p"))
                decks.push_back(item.path());
    std::sort(decks.begin(), decks.end());
    return decks;
}

class TempDir {
public:
    TempDir() {
        std::random_device seed;
        path_ = std::filesystem::temp_directory_path() /
                ("zandrel-test-" + std::to_string(::getpid()) + "-" + std::to_string(seed()));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void write_file(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

struct TestEntry {
    std::string name;
    std::string content;
    std::uint16_t method = zip_method_deflate;
    std::uint16_t dos_date = 0x5A86;  // 2025-04-06, so rewrites are visible
    std::uint16_t dos_time = 0x6000;
};

// A ZIP archive of the entries, in order; names ending in "/" become
// directory entries.
inline void write_test_archive(const std::string& path, const std::vector<TestEntry>& entries) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    {
        ZipWriter writer(fd);
        for (const auto& entry : entries) {
            NewEntryOptions options{entry.method, entry.dos_date, entry.dos_time};
            Status status = entry.name.ends_with('/') ? writer.add_directory(entry.name, options)
                                                      : writer.add_entry(entry.name, entry.content, options);
            ASSERT_TRUE(status.ok()) << status.error().display();
        }
        Status finished = writer.finish();
        ASSERT_TRUE(finished.ok()) << finished.error().display();
    }
    ::close(fd);
}

// Bytes [begin, end) of the archive file behind `reader`.
inline std::string archive_bytes(const ZipReader& reader, std::uint64_t begin, std::uint64_t end) {
    std::string bytes;
    Status status = reader.read_raw(begin, end - begin, [&](std::span<const char> chunk) {
        bytes.append(chunk.data(), chunk.size());
    });
    EXPECT_TRUE(status.ok());
    return bytes;
}

// Local header and compressed bytes of an entry, exactly as stored.
inline std::string stored_entry_bytes(const ZipReader& reader, std::size_t index) {
    auto opened = reader.open_entry(index);
    EXPECT_TRUE(opened.ok());
    return opened.ok() ? archive_bytes(reader, opened->local_header_offset, opened->data_end) : std::string();
}

// Compressed bytes of an entry, without its local header.
inline std::string compressed_entry_bytes(const ZipReader& reader, std::size_t index) {
    auto opened = reader.open_entry(index);
    EXPECT_TRUE(opened.ok());
    return opened.ok() ? archive_bytes(reader, opened->data_offset, opened->data_end) : std::string();
}

// Uncompressed content of a part that must exist.
inline std::string content_of(const ZipReader& reader, std::string_view name) {
    auto content = read_archive_bytes(reader, name);
    EXPECT_TRUE(content.ok() && content->has_value()) << name;
    return content.ok() && content->has_value() ? **content : std::string();
}

}  // namespace zandrel::testing
