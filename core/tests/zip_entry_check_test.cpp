// The entry check run beside the writer: every entry is verified whether or
// not worker threads take part, and the earliest failing entry is reported.
#include <gtest/gtest.h>

#include <random>

#include "zip_entry_check.hpp"
#include "zip_test_support.hpp"

namespace zandrel::testing {
namespace {

// Incompressible bytes, so the archive is as large as the content.
std::string noise(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    return bytes;
}

struct CheckCase {
    const char* label;
    std::size_t entries;
    std::size_t entry_size;  // 40 entries of 1 MiB are enough for worker threads
    std::vector<std::size_t> corrupt;
    std::optional<std::size_t> reported;  // position of the failure, if any
};

TEST(ParallelEntryCheck, ReportsTheEarliestCorruptEntryWithOrWithoutWorkers) {
    const std::vector<CheckCase> cases = {
        {"small, sound", 3, 100, {}, std::nullopt},
        {"small, two corrupt", 3, 100, {2, 1}, 1},
        {"large, sound", 40, 1 << 20, {}, std::nullopt},
        {"large, late corrupt entries", 40, 1 << 20, {39, 31}, 31},
        {"large, first entry corrupt", 40, 1 << 20, {0, 20}, 0},
    };
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.label);
        TempDir temp;
        std::vector<RawEntry> entries;
        for (std::size_t i = 0; i < c.entries; ++i) {
            const std::string name = "ppt/media/image" + std::to_string(i) + ".bin";
            const std::string content = noise(c.entry_size, static_cast<unsigned>(i));
            entries.push_back(i % 2 ? deflated_entry(name, content) : stored_entry(name, content));
        }
        for (const std::size_t i : c.corrupt) entries[i].crc ^= 1;
        replace_file(temp.file("in.zip"), raw_archive(entries));
        auto reader = ZipReader::open(temp.file("in.zip"));
        ASSERT_TRUE(reader.ok());

        std::vector<std::size_t> indices(c.entries);
        for (std::size_t i = 0; i < c.entries; ++i) indices[i] = i;
        ParallelEntryCheck check(*reader, indices);
        const auto failure = check.finish();
        ASSERT_EQ(failure.has_value(), c.reported.has_value());
        if (!failure) continue;
        EXPECT_EQ(failure->position, *c.reported);
        EXPECT_EQ(failure->error.display(), "io error: crc mismatch in entry " + reader->entry(*c.reported).name);
    }
}

TEST(ParallelEntryCheck, PassesOverEntriesThatCannotBeOpened) {
    TempDir temp;
    RawEntry broken = stored_entry("broken.txt", "alpha");
    broken.local_signature = 0;
    replace_file(temp.file("in.zip"), raw_archive({broken, stored_entry("fine.txt", "beta")}));
    auto reader = ZipReader::open(temp.file("in.zip"));
    ASSERT_TRUE(reader.ok());
    ParallelEntryCheck check(*reader, {0, 1});
    EXPECT_FALSE(check.finish().has_value());
}

}  // namespace
}  // namespace zandrel::testing
