#include <gtest/gtest.h>

#include <filesystem>

#include "package_reader.hpp"
#include "package_writer.hpp"
#include "test_support.hpp"
#include "zip_test_support.hpp"

namespace zandrel {
namespace {

using testing::TempDir;
using testing::TestEntry;
using testing::content_of;
using testing::stored_entry_bytes;

std::vector<std::string> names_of(const ZipReader& reader) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < reader.entry_count(); ++i) names.push_back(reader.entry(i).name);
    return names;
}

class PackageWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::write_test_archive(input_path, {
            {"[Content_Types].xml", "<Types/>"},
            {"ppt/media/", ""},
            {"ppt/slides/slide1.xml", "<p:sld>one</p:sld>"},
            {"ppt/slides/slide2.xml", "<p:sld>two</p:sld>", zip_method_stored},
            {"ppt/media/image1.png", std::string(5000, 'x')},
        });
    }
    ZipReader open_input() { return std::move(ZipReader::open(input_path).value()); }

    TempDir dir;
    std::string input_path = dir.file("in.pptx");
    std::string output_path = dir.file("out.pptx");
};

TEST_F(PackageWriterTest, ReplacedPartModeCopiesEveryOtherEntryByteForByte) {
    ZipReader input = open_input();
    auto facts = write_package_with_replaced_part(input, output_path, "ppt/slides/slide2.xml", "<new/>");
    ASSERT_TRUE(facts.ok()) << facts.error().display();
    EXPECT_EQ(facts->part_count, 5u);

    ZipReader output = std::move(ZipReader::open(output_path).value());
    ASSERT_EQ(names_of(output), names_of(input));
    for (std::size_t i = 0; i < input.entry_count(); ++i) {
        const ZipEntry& entry = output.entry(i);
        if (entry.name == "ppt/slides/slide2.xml") {
            EXPECT_EQ(entry.method, zip_method_stored);
            EXPECT_EQ(entry.dos_date, 0x0021);
            EXPECT_EQ(entry.dos_time, 0x0000);
            EXPECT_EQ(content_of(output, entry.name), "<new/>");
        } else {
            EXPECT_EQ(stored_entry_bytes(output, i), stored_entry_bytes(input, i)) << entry.name;
            EXPECT_EQ(entry.dos_date, input.entry(i).dos_date);
        }
    }
}

TEST_F(PackageWriterTest, UnknownReplacedPartGivesARawCopy) {
    ZipReader input = open_input();
    ASSERT_TRUE(write_package_with_replaced_part(input, output_path, "ppt/none.xml", "x").ok());
    ZipReader output = std::move(ZipReader::open(output_path).value());
    for (std::size_t i = 0; i < input.entry_count(); ++i)
        EXPECT_EQ(stored_entry_bytes(output, i), stored_entry_bytes(input, i));
}

struct ModeCase {
    WriteMode mode;
    bool new_timestamps;       // untouched file entries get 1980-01-01
    bool directory_is_raw;     // the directory entry keeps its input date
};

class PackageWriterModeTest : public PackageWriterTest,
                              public ::testing::WithParamInterface<ModeCase> {};

TEST_P(PackageWriterModeTest, TimestampsMethodsAndDirectoryEntries) {
    const ModeCase& mode = GetParam();
    ZipReader input = open_input();
    PackagePlan plan;
    plan.mode = mode.mode;
    plan.replaced.emplace("ppt/slides/slide1.xml", "<changed/>");
    ASSERT_TRUE(write_package(input, output_path, plan).ok());

    ZipReader output = std::move(ZipReader::open(output_path).value());
    ASSERT_EQ(names_of(output), names_of(input));
    for (std::size_t i = 0; i < output.entry_count(); ++i) {
        const ZipEntry& written = output.entry(i);
        const ZipEntry& original = input.entry(i);
        EXPECT_EQ(written.method, original.method) << written.name;
        bool replaced = written.name == "ppt/slides/slide1.xml";
        bool directory = written.name == "ppt/media/";
        bool keeps_date = directory ? mode.directory_is_raw : !(mode.new_timestamps || replaced);
        EXPECT_EQ(written.dos_date, keeps_date ? original.dos_date : 0x0021) << written.name;
        if (!keeps_date) {
            EXPECT_EQ(written.dos_time, 0x0000) << written.name;
        }
        if (!replaced && !directory) {
            EXPECT_EQ(content_of(output, written.name), content_of(input, written.name));
        }
    }
    EXPECT_EQ(content_of(output, "ppt/slides/slide1.xml"), "<changed/>");
    EXPECT_EQ(content_of(output, "ppt/media/"), "");
}

INSTANTIATE_TEST_SUITE_P(Modes, PackageWriterModeTest,
                         ::testing::Values(ModeCase{WriteMode::ReplaceParts, false, true},
                                           ModeCase{WriteMode::PatchAndAppend, false, false},
                                           ModeCase{WriteMode::ReEncode, true, false},
                                           ModeCase{WriteMode::Delete, true, false}));

TEST_F(PackageWriterTest, DeleteSkipsRemovedPartsAndAppendedPartsComeLast) {
    ZipReader input = open_input();
    PackagePlan plan;
    plan.mode = WriteMode::Delete;
    plan.removed.insert("ppt/slides/slide2.xml");
    plan.appended.emplace_back("ppt/vbaProject.bin", "macro");
    auto facts = write_package(input, output_path, plan);
    ASSERT_TRUE(facts.ok()) << facts.error().display();
    EXPECT_EQ(facts->part_count, 5u);
    EXPECT_TRUE(facts->has_vba);

    ZipReader output = std::move(ZipReader::open(output_path).value());
    EXPECT_EQ(names_of(output),
              (std::vector<std::string>{"[Content_Types].xml", "ppt/media/", "ppt/slides/slide1.xml",
                                        "ppt/media/image1.png", "ppt/vbaProject.bin"}));
    EXPECT_EQ(output.entry(4).method, zip_method_deflate);
    EXPECT_EQ(output.entry(4).dos_date, 0x0021);
    EXPECT_EQ(content_of(output, "ppt/vbaProject.bin"), "macro");
}

TEST_F(PackageWriterTest, FailureLeavesExistingOutputAndNoTemporaryFile) {
    testing::write_file(output_path, "previous output");
    ZipReader input = open_input();
    PackagePlan plan;
    plan.mode = WriteMode::PatchAndAppend;
    plan.appended.emplace_back("ppt/slides/slide1.xml", "twice");  // a name already written
    auto facts = write_package(input, output_path, plan);
    ASSERT_FALSE(facts.ok());
    EXPECT_EQ(facts.error().kind, ErrorKind::Zip);
    EXPECT_EQ(testing::read_file(output_path), "previous output");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2);
}

TEST_F(PackageWriterTest, CorruptEntryFailsReEncodingWithIo) {
    // a stored entry whose bytes no longer match its CRC
    std::string bytes = testing::read_file(input_path);
    auto at = bytes.find("<p:sld>two");
    ASSERT_NE(at, std::string::npos);
    bytes[at + 8] = 'X';
    testing::write_file(input_path, bytes);

    ZipReader input = open_input();
    PackagePlan plan;
    plan.mode = WriteMode::ReEncode;
    auto facts = write_package(input, output_path, plan);
    ASSERT_FALSE(facts.ok());
    EXPECT_EQ(facts.error().kind, ErrorKind::Io);
    EXPECT_FALSE(std::filesystem::exists(output_path));
}

// Re-timed entries are checked on worker threads while they are copied; the
// error reported must still be that of the earliest bad entry, whether the
// copy or the check found it. 40 entries of 1 MiB bring the workers in.
TEST(PackageWriterCheck, EarliestBadEntryDecidesTheErrorInEveryRetimingMode) {
    struct Case {
        const char* label;
        std::optional<std::size_t> corrupt_crc;
        std::optional<std::size_t> broken_header;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"corrupt data first", 5, 20, "io error: crc mismatch in entry e5"},
        {"broken header first", 20, 5, "zip error: invalid local header of entry e5"},
        {"corrupt data in the last entry", 39, std::nullopt, "io error: crc mismatch in entry e39"},
    };
    for (const WriteMode mode : {WriteMode::ReEncode, WriteMode::Delete}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.label) + (mode == WriteMode::Delete ? ", delete" : ", re-encode"));
            TempDir dir;
            std::vector<testing::RawEntry> entries;
            for (std::size_t i = 0; i < 40; ++i) {
                std::string content(1 << 20, static_cast<char>('a' + i % 26));
                content += std::to_string(i);
                entries.push_back(testing::deflated_entry("e" + std::to_string(i), content));
            }
            if (c.corrupt_crc) entries[*c.corrupt_crc].crc ^= 1;
            if (c.broken_header) entries[*c.broken_header].local_signature = 0;
            testing::replace_file(dir.file("in.zip"), testing::raw_archive(entries));
            auto input = ZipReader::open(dir.file("in.zip"));
            ASSERT_TRUE(input.ok());
            PackagePlan plan;
            plan.mode = mode;
            auto facts = write_package(*input, dir.file("out.zip"), plan);
            ASSERT_FALSE(facts.ok());
            EXPECT_EQ(facts.error().display(), c.expected);
            EXPECT_FALSE(std::filesystem::exists(dir.file("out.zip")));
        }
    }
}

TEST_F(PackageWriterTest, WritingOverTheInputIsSafe) {
    ZipReader input = open_input();
    std::string before = content_of(input, "ppt/media/image1.png");
    ASSERT_TRUE(write_package_with_replaced_part(input, input_path, "ppt/slides/slide1.xml", "<in-place/>").ok());
    ZipReader rewritten = open_input();
    EXPECT_EQ(content_of(rewritten, "ppt/slides/slide1.xml"), "<in-place/>");
    EXPECT_EQ(content_of(rewritten, "ppt/media/image1.png"), before);
}

TEST_F(PackageWriterTest, RoundtripCreatesDirectoriesAndCopiesExactly) {
    std::string nested = dir.file("a/b/copy.pptx");
    auto manifest = roundtrip_package(input_path, nested);
    ASSERT_TRUE(manifest.ok()) << manifest.error().display();
    EXPECT_EQ(manifest->path, nested);
    EXPECT_EQ(manifest->parts.size(), 5u);
    EXPECT_EQ(testing::read_file(nested), testing::read_file(input_path));
}

}  // namespace
}  // namespace zandrel
