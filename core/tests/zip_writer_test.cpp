#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "sha256.hpp"
#include "zip_format.hpp"
#include "zip_reader.hpp"
#include "zip_test_support.hpp"
#include "zip_writer.hpp"

namespace zandrel {
namespace {

using namespace testing;

// An output file for a writer, optionally starting far into the file (the
// gap stays sparse), closed at scope end.
class Output {
public:
    explicit Output(const std::string& path, std::uint64_t start = 0) {
        ::unlink(path.c_str());  // see replace_file
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (start > 0) ::lseek(fd_, static_cast<off_t>(start), SEEK_SET);
    }
    ~Output() { ::close(fd_); }
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

// Every central-record field except the offset, for comparing copies.
std::string central_fields(const ZipEntry& e) {
    return e.name + "|" + std::to_string(e.version_made_by) + "|" + std::to_string(e.version_needed) + "|" +
           std::to_string(e.flags) + "|" + std::to_string(e.method) + "|" + std::to_string(e.dos_time) + "|" +
           std::to_string(e.dos_date) + "|" + std::to_string(e.crc32) + "|" + std::to_string(e.compressed_size) +
           "|" + std::to_string(e.uncompressed_size) + "|" + std::to_string(e.internal_attributes) + "|" +
           std::to_string(e.external_attributes) + "|" + std::to_string(e.disk_number_start) + "|" + e.comment;
}

// The central extra field with the ZIP64 offset blanked, for comparing copies
// whose offsets differ.
std::string extra_without_offset(const ZipEntry& e) {
    std::string extra = e.central_extra;
    if (!e.local_header_offset_in_zip64) return extra;
    const auto block = zip_format::find_extra_block(extra, zip_format::zip64_extra_id);
    const std::size_t at = block->offset + 8 * (e.uncompressed_size_in_zip64 + e.compressed_size_in_zip64);
    return extra.replace(at, 8, 8, '-');
}

Status copy_all(const ZipReader& reader, ZipWriter& writer, bool retime) {
    for (std::size_t i = 0; i < reader.entry_count(); ++i)
        ZANDREL_CHECK(retime ? writer.copy_unverified_with_new_timestamp(reader, i, {}) : writer.copy_raw(reader, i));
    return writer.finish();
}

// Checks that every entry of `output` is the raw copy of the same entry of
// `input`: local header, data and descriptor bytes, and every central field.
void expect_raw_copies(const std::string& input_path, const std::string& output_path) {
    auto input = ZipReader::open(input_path);
    auto output = ZipReader::open(output_path);
    ASSERT_TRUE(input.ok() && output.ok());
    ASSERT_EQ(output->entry_count(), input->entry_count());
    const std::string input_bytes = read_file(input_path);
    const std::string output_bytes = read_file(output_path);
    for (std::size_t i = 0; i < input->entry_count(); ++i) {
        SCOPED_TRACE(input->entry(i).name);
        auto from = input->open_entry(i);
        auto to = output->open_entry(i);
        ASSERT_TRUE(from.ok() && to.ok());
        EXPECT_EQ(central_fields(output->entry(i)), central_fields(input->entry(i)));
        EXPECT_EQ(extra_without_offset(output->entry(i)), extra_without_offset(input->entry(i)));
        EXPECT_TRUE(byte_range(output_bytes, to->local_header_offset, to->data_end) ==
                    byte_range(input_bytes, from->local_header_offset, from->data_end));
    }
}

TEST(ZipWriterCorpus, RawCopiesAreByteIdentical) {
    ZANDREL_REQUIRE_CORPUS();
    TempDir temp;
    const bool check_unzip = tool_available("unzip");
    std::vector<std::string> outputs;
    for (const auto& deck : valid_corpus_decks()) {
        SCOPED_TRACE(deck.string());
        auto reader = ZipReader::open(deck.string());
        ASSERT_TRUE(reader.ok()) << reader.error().display();
        const std::string out = temp.file("copy" + std::to_string(outputs.size()) + ".pptx");
        outputs.push_back(out);
        {
            Output file(out);
            ZipWriter writer(file.fd());
            const Status copied = copy_all(*reader, writer, false);
            ASSERT_TRUE(copied.ok()) << copied.error().display();
            EXPECT_EQ(writer.entries_written(), reader->entry_count());
        }
        expect_raw_copies(deck.string(), out);
        if (check_unzip) EXPECT_TRUE(unzip_accepts(out));
    }
    EXPECT_EQ(python_zipfile_rejects(outputs, temp), std::vector<std::string>{});
}

TEST(ZipWriterCorpus, RawCopiesKeepZip64FieldsAndOddDates) {
    ZANDREL_REQUIRE_CORPUS();
    TempDir temp;
    for (const char* name : {"derived/derived__zip64__tika__testPPT_groups.pptx", "ooxml-parser__merged_cells.pptx"}) {
        SCOPED_TRACE(name);
        auto reader = ZipReader::open((corpus_dir / name).string());
        ASSERT_TRUE(reader.ok());
        {
            Output file(temp.file("copy.pptx"), 1000);  // shifted, so every offset changes
            ZipWriter writer(file.fd());
            ASSERT_TRUE(copy_all(*reader, writer, false).ok());
        }
        auto copy = ZipReader::open(temp.file("copy.pptx"));
        ASSERT_TRUE(copy.ok());
        for (std::size_t i = 0; i < copy->entry_count(); ++i) {
            EXPECT_EQ(copy->entry(i).local_header_offset, reader->entry(i).local_header_offset + 1000);
            EXPECT_EQ(copy->entry(i).local_header_offset_in_zip64, reader->entry(i).local_header_offset_in_zip64);
            EXPECT_EQ(copy->entry(i).central_extra.size(), reader->entry(i).central_extra.size());
            EXPECT_EQ(copy->entry(i).dos_date, reader->entry(i).dos_date);
        }
        expect_raw_copies((corpus_dir / name).string(), temp.file("copy.pptx"));
        EXPECT_TRUE(python_zipfile_accepts(temp.file("copy.pptx"), temp));
    }
}

TEST(ZipWriterCorpus, RetimedEntriesKeepMethodAndCompressedBytes) {
    ZANDREL_REQUIRE_CORPUS();
    TempDir temp;
    std::size_t stored_files = 0;
    std::vector<std::string> outputs;
    for (const auto& deck : valid_corpus_decks()) {
        SCOPED_TRACE(deck.string());
        auto input = ZipReader::open(deck.string());
        ASSERT_TRUE(input.ok());
        const std::string out = temp.file("retimed" + std::to_string(outputs.size()) + ".pptx");
        outputs.push_back(out);
        {
            Output file(out);
            ZipWriter writer(file.fd());
            const Status copied = copy_all(*input, writer, true);
            ASSERT_TRUE(copied.ok()) << copied.error().display();
        }
        auto output = ZipReader::open(out);
        ASSERT_TRUE(output.ok());
        ASSERT_EQ(output->entry_count(), input->entry_count());
        const std::string input_bytes = read_file(deck.string());
        const std::string output_bytes = read_file(out);
        for (std::size_t i = 0; i < input->entry_count(); ++i) {
            const ZipEntry& before = input->entry(i);
            const ZipEntry& after = output->entry(i);
            SCOPED_TRACE(before.name);
            EXPECT_EQ(after.name, before.name);
            EXPECT_EQ(after.method, before.method);
            EXPECT_EQ(after.dos_date, 0x0021);
            EXPECT_EQ(after.dos_time, 0x0000);
            EXPECT_EQ(after.crc32, before.crc32);
            EXPECT_EQ(after.flags & zip_format::flag_data_descriptor, 0);
            auto from = input->open_entry(i);
            auto to = output->open_entry(i);
            ASSERT_TRUE(from.ok() && to.ok());
            EXPECT_TRUE(byte_range(output_bytes, to->data_offset, to->data_end) ==
                        byte_range(input_bytes, from->data_offset, from->data_offset + before.compressed_size));
            stored_files += before.method == zip_method_stored && !before.is_directory();
        }
    }
    EXPECT_EQ(python_zipfile_rejects(outputs, temp), std::vector<std::string>{});
    EXPECT_GT(stored_files, 0u) << "no Stored entry was exercised";
}

TEST(ZipWriter, NewEntriesReadBackWithTheirHeaderFields) {
    TempDir temp;
    std::string binary;
    for (int i = 0; i < 70000; ++i) binary.push_back(static_cast<char>((i * 2654435761u) >> 13));
    const std::string xml = "<?xml version=\"1.0\"?><p:sld>" + std::string(4000, ' ') + "</p:sld>";
    const std::string utf8_name = "ppt/media/\xc3\xa9t\xc3\xa9.bin";
    {
        Output file(temp.file("new.zip"));
        ZipWriter writer(file.fd());
        ASSERT_TRUE(writer.add_entry("ppt/slides/slide1.xml", xml, {}).ok());
        ASSERT_TRUE(writer.add_entry(utf8_name, binary, {zip_method_stored, 0x5a86, 0x6000}).ok());
        ASSERT_TRUE(writer.add_entry("empty.xml", "", {}).ok());
        ASSERT_TRUE(writer.add_directory("ppt/media/", {}).ok());
        ASSERT_TRUE(writer.finish().ok());
        EXPECT_EQ(writer.entries_written(), 4u);
    }
    const std::string path = temp.file("new.zip");
    auto reader = ZipReader::open(path);
    ASSERT_TRUE(reader.ok());
    ASSERT_EQ(reader->entry_count(), 4u);
    struct Expected {
        std::string name;
        std::uint16_t method, flags, date, time;
        std::uint32_t external;
        std::string content;
    };
    const std::vector<Expected> expected = {
        {"ppt/slides/slide1.xml", zip_method_deflate, 0, 0x0021, 0, 0, xml},
        {utf8_name, zip_method_stored, zip_format::flag_utf8_name, 0x5a86, 0x6000, 0, binary},
        {"empty.xml", zip_method_deflate, 0, 0x0021, 0, 0, ""},
        {"ppt/media/", zip_method_stored, 0, 0x0021, 0, 0x10, ""},
    };
    std::string python_expected;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const ZipEntry& entry = reader->entry(i);
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(entry.name, expected[i].name);
        EXPECT_EQ(entry.method, expected[i].method);
        EXPECT_EQ(entry.flags, expected[i].flags);
        EXPECT_EQ(entry.dos_date, expected[i].date);
        EXPECT_EQ(entry.dos_time, expected[i].time);
        EXPECT_EQ(entry.external_attributes, expected[i].external);
        EXPECT_EQ(entry.version_made_by, 20);
        EXPECT_EQ(entry.version_needed, 20);
        EXPECT_TRUE(entry.central_extra.empty());
        auto opened = reader->open_entry(i);
        ASSERT_TRUE(opened.ok());
        auto content = reader->read_entry(*opened);
        ASSERT_TRUE(content.ok());
        EXPECT_TRUE(*content == expected[i].content);
        python_expected += std::to_string(i) + "\t" + std::to_string(expected[i].content.size()) + "\t" +
                           sha256_hex(expected[i].content) + "\n";
    }
    EXPECT_LT(reader->entry(0).compressed_size, xml.size() / 10);
    EXPECT_TRUE(reader->entry(3).is_directory());
    if (!tool_available("python3")) GTEST_SKIP() << "python3 not found";
    EXPECT_EQ(python_entry_digests({path}, temp), "== " + path + "\n" + python_expected);
    EXPECT_TRUE(python_zipfile_accepts(path, temp));
    if (tool_available("unzip")) EXPECT_TRUE(unzip_accepts(path));
}

TEST(ZipWriter, RefusesASecondEntryUnderAWrittenName) {
    TempDir temp;
    replace_file(temp.file("in.zip"), raw_archive({stored_entry("ppt/slides/slide2.xml", "<s/>"),
                                                 stored_entry("ppt/", "")}));
    auto reader = ZipReader::open(temp.file("in.zip"));
    ASSERT_TRUE(reader.ok());
    using Call = std::function<Status(ZipWriter&, const std::string&)>;
    const std::vector<std::pair<std::string, Call>> calls = {
        {"add_entry", [](ZipWriter& w, const std::string& name) { return w.add_entry(name, "x", {}); }},
        {"add_directory", [](ZipWriter& w, const std::string& name) { return w.add_directory(name, {}); }},
        {"copy_raw", [&](ZipWriter& w, const std::string& name) { return w.copy_raw(*reader, *reader->find(name)); }},
        {"copy_unverified_with_new_timestamp",
         [&](ZipWriter& w, const std::string& name) {
             return w.copy_unverified_with_new_timestamp(*reader, *reader->find(name), {});
         }},
    };
    for (const auto& [first_label, first] : calls) {
        for (const auto& [second_label, second] : calls) {
            SCOPED_TRACE(first_label + " then " + second_label);
            const bool first_is_directory = first_label == "add_directory";
            const bool second_is_directory = second_label == "add_directory";
            // add_directory takes only names ending in '/', so pair it with the directory entry.
            const std::string name = first_is_directory || second_is_directory ? "ppt/" : "ppt/slides/slide2.xml";
            Output file(temp.file("out.zip"));
            ZipWriter writer(file.fd());
            ASSERT_TRUE(first(writer, name).ok());
            const Status again = second(writer, name);
            ASSERT_FALSE(again.ok());
            EXPECT_EQ(again.error().display(), "zip error: duplicate entry name " + name);
            EXPECT_EQ(writer.entries_written(), 1u);
        }
    }
}

TEST(ZipWriter, RefusesWorkAfterFinishAndOddRequests) {
    TempDir temp;
    Output file(temp.file("out.zip"));
    ZipWriter writer(file.fd());
    EXPECT_EQ(writer.add_entry("a", "x", {12, 0x21, 0}).error().display(), "zip error: unsupported compression method 12");
    EXPECT_EQ(writer.add_directory("ppt", {}).error().display(),
              "zip error: directory entry name must end with '/': ppt");
    EXPECT_EQ(writer.add_entry(std::string(70000, 'n'), "x", {}).error().kind, ErrorKind::Zip);
    ASSERT_TRUE(writer.finish().ok());
    EXPECT_EQ(writer.add_entry("b", "x", {}).error().display(), "zip error: the archive is already finished");
    EXPECT_EQ(writer.finish().error().display(), "zip error: the archive is already finished");
    auto reader = ZipReader::open(temp.file("out.zip"));
    ASSERT_TRUE(reader.ok()) << reader.error().display();
    EXPECT_EQ(reader->entry_count(), 0u);
    EXPECT_EQ(read_file(temp.file("out.zip")).size(), zip_format::end_record_size);
}

TEST(ZipWriter, AWriteFailureMakesTheWriterUnusable) {
    TempDir temp;
    replace_file(temp.file("in.zip"), raw_archive({stored_entry("a.txt", "alpha")}));
    auto reader = ZipReader::open(temp.file("in.zip"));
    ASSERT_TRUE(reader.ok());
    const int read_only = ::open(temp.file("in.zip").c_str(), O_RDONLY);
    ZipWriter writer(read_only);
    // raw copies go out together when the next header is written, so the
    // failed copy surfaces there
    ASSERT_TRUE(writer.copy_raw(*reader, 0).ok());
    const Status next = writer.add_entry("b.txt", "x", {});
    ASSERT_FALSE(next.ok());
    EXPECT_EQ(next.error().display(), "zip error: Bad file descriptor");
    EXPECT_EQ(writer.add_entry("c.txt", "x", {}).error().display(),
              "zip error: the archive is unusable after an earlier failure");
    EXPECT_EQ(writer.finish().error().display(), "zip error: the archive is unusable after an earlier failure");
    ::close(read_only);
}

TEST(ZipWriter, ManyEntriesUseTheZip64EndRecord) {
    TempDir temp;
    constexpr std::size_t count = 70000;
    {
        Output file(temp.file("many.zip"));
        ZipWriter writer(file.fd());
        for (std::size_t i = 0; i < count; ++i)
            ASSERT_TRUE(writer.add_entry("e" + std::to_string(i), std::to_string(i), {zip_method_stored}).ok());
        ASSERT_TRUE(writer.finish().ok());
    }
    const std::string bytes = read_file(temp.file("many.zip"));
    const std::size_t end = bytes.size() - zip_format::end_record_size;
    EXPECT_EQ(zip_format::load_u16(bytes, end + 10), 0xffff);
    EXPECT_EQ(zip_format::load_u32(bytes, end - zip_format::zip64_locator_size), zip_format::zip64_locator_signature);
    auto reader = ZipReader::open(temp.file("many.zip"));
    ASSERT_TRUE(reader.ok()) << reader.error().display();
    ASSERT_EQ(reader->entry_count(), count);
    auto last = reader->open_entry(count - 1);
    ASSERT_TRUE(last.ok());
    EXPECT_EQ(*reader->read_entry(*last), std::to_string(count - 1));
    EXPECT_EQ(reader->find("e65535"), std::optional<std::size_t>(65535));
    EXPECT_TRUE(python_zipfile_accepts(temp.file("many.zip"), temp));
}

// Offsets past 4 GiB: the writer starts behind a sparse gap, so nothing of
// that size is ever written.
TEST(ZipWriter, OffsetsPastFourGibMoveIntoZip64ExtraFields) {
    ZANDREL_REQUIRE_CORPUS();
    TempDir temp;
    const std::string zip64_deck = (corpus_dir / "derived/derived__zip64__tika__testPPT_groups.pptx").string();
    RawEntry padded = stored_entry("plain.txt", "no zip64 field");
    padded.central_extra = std::string("\xfe\xca\x04\x00" "abcd", 8);  // a foreign block that must survive
    replace_file(temp.file("plain.zip"), raw_archive({padded, deflated_entry("other.xml", "<retimed/>")}));
    auto plain = ZipReader::open(temp.file("plain.zip"));
    auto zip64 = ZipReader::open(zip64_deck);
    ASSERT_TRUE(plain.ok() && zip64.ok());
    constexpr std::uint64_t gap = 0x100000000ULL + 12345;
    const std::string far = temp.file("far.zip");
    {
        Output file(far, gap);
        ZipWriter writer(file.fd());
        ASSERT_TRUE(writer.copy_raw(*plain, 0).ok());
        ASSERT_TRUE(writer.copy_raw(*zip64, 0).ok());
        ASSERT_TRUE(writer.copy_unverified_with_new_timestamp(*plain, 1, {}).ok());
        ASSERT_TRUE(writer.add_entry("new.xml", "<new/>", {}).ok());
        ASSERT_TRUE(writer.finish().ok());
    }
    auto reader = ZipReader::open(far);
    ASSERT_TRUE(reader.ok()) << reader.error().display();
    ASSERT_EQ(reader->entry_count(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        const ZipEntry& entry = reader->entry(i);
        SCOPED_TRACE(entry.name);
        EXPECT_TRUE(entry.local_header_offset_in_zip64);
        EXPECT_GE(entry.local_header_offset, gap);
        auto opened = reader->open_entry(i);
        ASSERT_TRUE(opened.ok()) << opened.error().display();
        EXPECT_TRUE(reader->read_entry(*opened).ok());
    }
    // The plain entry gained a ZIP64 block holding only the offset.
    EXPECT_EQ(reader->entry(0).central_extra.substr(0, 12), padded.central_extra + std::string("\x01\x00\x08\x00", 4));
    EXPECT_EQ(reader->entry(0).central_extra.size(), 20u);
    // The ZIP64 entry kept its block: sizes, then the patched offset.
    EXPECT_EQ(reader->entry(1).central_extra.size(), zip64->entry(0).central_extra.size());
    EXPECT_EQ(reader->entry(1).uncompressed_size, zip64->entry(0).uncompressed_size);
    EXPECT_TRUE(python_zipfile_accepts(far, temp));
    if (tool_available("unzip")) EXPECT_TRUE(unzip_accepts(far));

    // Back to small offsets: records that keep the offset in ZIP64 keep doing so.
    {
        Output file(temp.file("near.zip"));
        ZipWriter writer(file.fd());
        ASSERT_TRUE(copy_all(*reader, writer, false).ok());
    }
    auto near = ZipReader::open(temp.file("near.zip"));
    ASSERT_TRUE(near.ok()) << near.error().display();
    EXPECT_EQ(near->entry(0).local_header_offset, 0u);
    EXPECT_TRUE(near->entry(3).local_header_offset_in_zip64);
    EXPECT_TRUE(python_zipfile_accepts(temp.file("near.zip"), temp));
    // Local headers and data are the same bytes in both files.
    auto last = reader->open_entry(3);
    ASSERT_TRUE(last.ok());
    std::string far_bytes;
    ASSERT_TRUE(reader->read_raw(gap, last->data_end - gap, [&](std::span<const char> chunk) {
        far_bytes.append(chunk.data(), chunk.size());
    }).ok());
    const std::string near_bytes = read_file(temp.file("near.zip"));
    EXPECT_EQ(near_bytes.substr(0, far_bytes.size()), far_bytes);
}

}  // namespace
}  // namespace zandrel
