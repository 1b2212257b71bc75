#include <gtest/gtest.h>

#include <sys/stat.h>

#include <thread>

#include "sha256.hpp"
#include "zip_format.hpp"
#include "zip_reader.hpp"
#include "zip_test_support.hpp"

namespace zandrel {
namespace {

using namespace testing;

struct Failure {
    ErrorKind kind;
    std::string detail;
};

// Opens the archive and reads every entry; the first failure, if any.
std::optional<Failure> read_everything(const std::string& path, std::vector<std::string>* contents = nullptr) {
    auto reader = ZipReader::open(path);
    if (!reader) return Failure{reader.error().kind, reader.error().detail};
    for (std::size_t i = 0; i < reader->entry_count(); ++i) {
        auto opened = reader->open_entry(i);
        if (!opened) return Failure{opened.error().kind, opened.error().detail};
        auto content = reader->read_entry(*opened);
        if (!content) return Failure{content.error().kind, content.error().detail};
        if (contents) contents->push_back(*content);
    }
    return std::nullopt;
}

std::string describe(const std::optional<Failure>& failure) {
    if (!failure) return "success";
    return ZandrelError{failure->kind, failure->detail}.display();
}

// What opening every entry gives, one `open_entry` at a time in directory
// order and by `open_every_entry`, which reads nearby headers together.
std::pair<std::string, std::string> opened_one_by_one_and_together(const std::string& path) {
    auto reader = ZipReader::open(path);
    if (!reader) return {reader.error().display(), reader.error().display()};
    std::string one_by_one = "success";
    for (std::size_t i = 0; i < reader->entry_count() && one_by_one == "success"; ++i)
        if (auto opened = reader->open_entry(i); !opened) one_by_one = opened.error().display();
    const Status together = reader->open_every_entry();
    return {one_by_one, together ? "success" : together.error().display()};
}

TEST(ZipReaderCorpus, EveryEntryMatchesPythonZipfile) {
    ZANDREL_REQUIRE_CORPUS();
    if (!tool_available("python3")) GTEST_SKIP() << "python3 not found";
    TempDir temp;
    std::string ours;
    std::vector<std::string> decks;
    for (const auto& deck : valid_corpus_decks()) {
        SCOPED_TRACE(deck.string());
        decks.push_back(deck.string());
        ours += "== " + deck.string() + "\n";
        auto reader = ZipReader::open(deck.string());
        ASSERT_TRUE(reader.ok()) << reader.error().display();
        for (std::size_t i = 0; i < reader->entry_count(); ++i) {
            auto opened = reader->open_entry(i);
            ASSERT_TRUE(opened.ok()) << opened.error().display();
            auto content = reader->read_entry(*opened);
            ASSERT_TRUE(content.ok()) << content.error().display();
            EXPECT_EQ(content->size(), reader->entry(i).uncompressed_size);
            ours += std::to_string(i) + "\t" + std::to_string(content->size()) + "\t" + sha256_hex(*content) + "\n";
            const auto found = reader->find(reader->entry(i).name);
            ASSERT_TRUE(found.has_value());
            EXPECT_LE(*found, i);
            EXPECT_EQ(reader->entry(*found).name, reader->entry(i).name);
        }
    }
    EXPECT_EQ(ours, python_entry_digests(decks, temp));
}

TEST(ZipReaderCorpus, Zip64AndOddDatesAreRead) {
    ZANDREL_REQUIRE_CORPUS();
    auto zip64 = ZipReader::open((corpus_dir / "derived/derived__zip64__tika__testPPT_groups.pptx").string());
    ASSERT_TRUE(zip64.ok()) << zip64.error().display();
    const ZipEntry& first = zip64->entry(0);
    EXPECT_EQ(first.name, "[Content_Types].xml");
    EXPECT_TRUE(first.uncompressed_size_in_zip64 && first.compressed_size_in_zip64 &&
                first.local_header_offset_in_zip64);
    EXPECT_EQ(first.uncompressed_size, 0x0ff9u);
    EXPECT_EQ(first.compressed_size, 0x0211u);
    EXPECT_EQ(first.local_header_offset, 0u);
    EXPECT_EQ(zip64->entry(1).local_header_offset, 0x0256u);

    auto dated = ZipReader::open((corpus_dir / "ooxml-parser__merged_cells.pptx").string());
    ASSERT_TRUE(dated.ok()) << dated.error().display();
    EXPECT_EQ(dated->entry(0).dos_date, 0x0000);  // year 1980, month 0, day 0
}

TEST(ZipReaderCorpus, MalformedDecksOpenOrFailCleanly) {
    ZANDREL_REQUIRE_CORPUS();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"aspose-examples__Add a comment to a slide.pptx", "success"},
        {"ooxml-parser__broken_slide_layout_file.pptx", "success"},
        {"ooxml-parser__picture_not_exist.pptx", "success"},
        {"phppresentation__Sample_01_Simple.pptx", "success"},
        {"poi__Divino_Revelado.pptx", "zip error: end of central directory record not found"},
        {"poi__clusterfuzz-testcase-minimized-POIFuzzer-5205835528404992.pptx",
         "zip error: invalid central directory header"},
        {"poi__clusterfuzz-testcase-minimized-POIXSLFFuzzer-6254434927378432.pptx",
         "zip error: end of central directory record not found"},
        {"python-pptx__missing_rels_item.pptx", "success"},
        {"tika__testPPT_protected_passtika.pptx", "zip error: end of central directory record not found"},
    };
    std::size_t listed = 0;
    for (const auto& item : std::filesystem::directory_iterator(corpus_dir / "malformed")) listed += item.is_regular_file();
    EXPECT_EQ(listed, cases.size()) << "a malformed deck is missing from this table";
    for (const auto& [name, expected] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(describe(read_everything((corpus_dir / "malformed" / name).string())), expected);
    }
}

TEST(ZipReader, OpenReportsMissingFilesAndDirectoriesWithTheSystemText) {
    TempDir temp;
    auto missing = ZipReader::open(temp.file("absent.pptx"));
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().display(), "io error: No such file or directory");
    auto directory = ZipReader::open(temp.path().string());
    ASSERT_FALSE(directory.ok());
    EXPECT_EQ(directory.error().display(), "io error: Is a directory");
}

TEST(ZipReader, FindsTheEndRecordBehindAComment) {
    TempDir temp;
    // The comment carries a fake end record whose directory would lie outside
    // the file; the real one before it must win.
    std::string fake_end;
    zip_format::append_u32(fake_end, zip_format::end_record_signature);
    fake_end += std::string(8, '\0');
    zip_format::append_u32(fake_end, 0x7fffffff);
    zip_format::append_u32(fake_end, 0x7fffffff);
    zip_format::append_u16(fake_end, 0);
    const std::string comment = "made by hand " + fake_end + " trailing words";
    replace_file(temp.file("a.zip"), raw_archive({stored_entry("a.txt", "alpha"), deflated_entry("b.xml", "<b/>")}, comment));
    std::vector<std::string> contents;
    EXPECT_EQ(describe(read_everything(temp.file("a.zip"), &contents)), "success");
    EXPECT_EQ(contents, (std::vector<std::string>{"alpha", "<b/>"}));
}

TEST(ZipReader, FindReturnsTheFirstOfDuplicateNames) {
    TempDir temp;
    replace_file(temp.file("a.zip"), raw_archive({stored_entry("x", "1"), stored_entry("y", "2"), stored_entry("x", "3")}));
    auto reader = ZipReader::open(temp.file("a.zip"));
    ASSERT_TRUE(reader.ok()) << reader.error().display();
    ASSERT_EQ(reader->entry_count(), 3u);
    EXPECT_EQ(reader->find("x"), std::optional<std::size_t>(0));
    EXPECT_EQ(reader->find("y"), std::optional<std::size_t>(1));
    EXPECT_EQ(reader->find("X"), std::nullopt);
    EXPECT_EQ(reader->find(""), std::nullopt);
}

TEST(ZipReader, SharedReadersReadOnOtherThreadsAndOutliveTheFirst) {
    TempDir temp;
    std::vector<RawEntry> entries;
    std::vector<std::string> expected;
    for (int i = 0; i < 16; ++i) {
        expected.push_back(std::string(20000 + i, static_cast<char>('a' + i)) + std::to_string(i));
        entries.push_back(deflated_entry("e" + std::to_string(i), expected.back()));
    }
    replace_file(temp.file("s.zip"), raw_archive(entries));
    auto first = ZipReader::open(temp.file("s.zip"));
    ASSERT_TRUE(first.ok()) << first.error().display();

    // every thread reads every entry through its own reader, all at once
    auto read_all = [&expected](const ZipReader& reader, std::vector<std::string>& mismatches) {
        for (std::size_t round = 0; round < 4; ++round)
            for (std::size_t i = 0; i < expected.size(); ++i) {
                auto opened = reader.open_entry(i);
                auto content = opened ? reader.read_entry(*opened) : Result<std::string>(opened.error());
                if (!content || *content != expected[i]) mismatches.push_back("e" + std::to_string(i));
            }
    };
    std::vector<std::vector<std::string>> mismatches(4);
    {
        std::vector<std::thread> threads;
        for (std::size_t t = 1; t < mismatches.size(); ++t)
            threads.emplace_back([&, t, shared = first->share()] { read_all(shared, mismatches[t]); });
        read_all(*first, mismatches[0]);
        for (auto& thread : threads) thread.join();
    }
    for (const auto& list : mismatches) EXPECT_EQ(list, std::vector<std::string>{});

    std::optional<ZipReader> kept;
    {
        auto original = ZipReader::open(temp.file("s.zip"));
        ASSERT_TRUE(original.ok()) << original.error().display();
        kept.emplace(original->share());
    }
    auto opened = kept->open_entry(15);
    ASSERT_TRUE(opened.ok()) << opened.error().display();
    auto content = kept->read_entry(*opened);
    ASSERT_TRUE(content.ok()) << content.error().display();
    EXPECT_EQ(*content, expected[15]);
}

TEST(ZipReader, OpeningEveryEntryReportsTheFirstFailureInDirectoryOrder) {
    TempDir temp;
    std::vector<RawEntry> entries;
    for (int i = 0; i < 4; ++i) entries.push_back(stored_entry("e" + std::to_string(i), std::string(10 * (i + 1), 'x')));
    std::vector<std::uint32_t> offsets;
    std::uint32_t offset = 0;
    for (const RawEntry& entry : entries) {
        offsets.push_back(offset);
        offset += static_cast<std::uint32_t>(30 + entry.name.size() + entry.data.size());
    }
    // e1's record points at the last header and e3's at the second: both
    // are spoiled, so in file order e3 fails first, in directory order e1
    entries[1].local_signature = entries[3].local_signature = 0x12345678;
    entries[1].local_header_offset = offsets[3];
    entries[3].local_header_offset = offsets[1];
    replace_file(temp.file("order.zip"), raw_archive(entries));
    const auto [one_by_one, together] = opened_one_by_one_and_together(temp.file("order.zip"));
    EXPECT_EQ(one_by_one, "zip error: invalid local header of entry e1");
    EXPECT_EQ(together, one_by_one);

    // many small entries, some with data descriptors, read in a few windows
    std::vector<RawEntry> many;
    for (int i = 0; i < 3000; ++i) {
        many.push_back(stored_entry("part" + std::to_string(i), std::string(static_cast<std::size_t>(i % 97), 'y')));
        if (i % 7 == 0) many.back().flags = zip_format::flag_data_descriptor;
    }
    replace_file(temp.file("many.zip"), raw_archive(many));
    EXPECT_EQ(opened_one_by_one_and_together(temp.file("many.zip")),
              (std::pair<std::string, std::string>{"success", "success"}));
    // thousands of records pointing past the end of the file fail one by one
    std::vector<RawEntry> past_end = many;
    for (RawEntry& entry : past_end) entry.local_header_offset = 0xFFFFFFF0;
    replace_file(temp.file("past.zip"), raw_archive(past_end));
    EXPECT_EQ(opened_one_by_one_and_together(temp.file("past.zip")),
              (std::pair<std::string, std::string>{"zip error: entry part0 lies outside the file",
                                                   "zip error: entry part0 lies outside the file"}));
    many[2500].local_signature = 0;
    many[1200].local_header_offset = 0xFFFFFF00;
    replace_file(temp.file("many.zip"), raw_archive(many));
    EXPECT_EQ(opened_one_by_one_and_together(temp.file("many.zip")),
              (std::pair<std::string, std::string>{"zip error: entry part1200 lies outside the file",
                                                   "zip error: entry part1200 lies outside the file"}));
}

TEST(ZipReader, DataDescriptorsAreSkippedUsingCentralSizes) {
    TempDir temp;
    for (const bool signature : {true, false}) {
        SCOPED_TRACE(signature ? "with signature" : "without signature");
        RawEntry first = deflated_entry("a.xml", std::string(5000, 'a'));
        first.flags = zip_format::flag_data_descriptor;
        first.descriptor_signature = signature;
        RawEntry second = stored_entry("b.txt", "bravo");
        second.flags = zip_format::flag_data_descriptor;
        second.descriptor_signature = signature;
        replace_file(temp.file("d.zip"), raw_archive({first, second}));
        auto reader = ZipReader::open(temp.file("d.zip"));
        ASSERT_TRUE(reader.ok()) << reader.error().display();
        auto opened = reader->open_entry(0);
        ASSERT_TRUE(opened.ok()) << opened.error().display();
        EXPECT_EQ(opened->data_offset, 30u + 5u);
        EXPECT_EQ(opened->data_end, opened->data_offset + first.compressed_size + (signature ? 16 : 12));
        auto next = reader->open_entry(1);
        ASSERT_TRUE(next.ok()) << next.error().display();
        EXPECT_EQ(next->local_header_offset, opened->data_end);
        std::vector<std::string> contents;
        EXPECT_EQ(describe(read_everything(temp.file("d.zip"), &contents)), "success");
        EXPECT_EQ(contents, (std::vector<std::string>{std::string(5000, 'a'), "bravo"}));
    }
}

TEST(ZipReader, StreamsStoredEntriesInChunks) {
    TempDir temp;
    std::string content;
    for (int i = 0; content.size() < 3 * (1 << 20) + 17; ++i) content += std::to_string(i * 7919) + ",";
    replace_file(temp.file("s.zip"), raw_archive({stored_entry("big.bin", content)}));
    auto reader = ZipReader::open(temp.file("s.zip"));
    ASSERT_TRUE(reader.ok());
    auto opened = reader->open_entry(0);
    ASSERT_TRUE(opened.ok());
    std::vector<std::size_t> sizes;
    Sha256 digest;
    const Status streamed = reader->stream_entry(*opened, [&](std::span<const char> chunk) {
        sizes.push_back(chunk.size());
        digest.update(chunk);
    });
    ASSERT_TRUE(streamed.ok()) << streamed.error().display();
    EXPECT_EQ(sizes, (std::vector<std::size_t>{1 << 20, 1 << 20, 1 << 20, content.size() - 3 * (1 << 20)}));
    EXPECT_EQ(digest.hex_digest(), sha256_hex(content));
}

// One entry "a.txt" made wrong in one way, and what opening or reading it gives.
struct EntryCase {
    std::string label;
    std::function<void(RawEntry&)> spoil;
    bool deflate;
    std::string expected;
};

TEST(ZipReader, EntriesThatLieFailWithTheirOwnError) {
    const std::string text = "the quick brown fox jumps over the lazy dog, again and again and again";
    const std::vector<EntryCase> cases = {
        {"unsupported method", [](RawEntry& e) { e.method = 12; }, false,
         "zip error: unsupported compression method 12"},
        {"encrypted", [](RawEntry& e) { e.flags = 1; }, false, "zip error: encrypted entries are not supported"},
        {"bad local signature", [](RawEntry& e) { e.local_signature = 0x04034b51; }, false,
         "zip error: invalid local header of entry a.txt"},
        {"header offset past the end", [](RawEntry& e) { e.local_header_offset = 1000000; }, false,
         "zip error: entry a.txt lies outside the file"},
        {"compressed size past the end", [](RawEntry& e) { e.compressed_size = e.uncompressed_size = 1000000; },
         false, "zip error: entry a.txt lies outside the file"},
        {"stored crc", [](RawEntry& e) { e.crc ^= 1; }, false, "io error: crc mismatch in entry a.txt"},
        {"deflate crc", [](RawEntry& e) { e.crc ^= 0x80000000; }, true, "io error: crc mismatch in entry a.txt"},
        {"stored sizes disagree", [](RawEntry& e) { e.uncompressed_size += 1; }, false,
         "io error: size mismatch in entry a.txt"},
        {"deflate declared too small", [](RawEntry& e) { e.uncompressed_size -= 1; }, true,
         "io error: size mismatch in entry a.txt"},
        {"deflate declared too large", [](RawEntry& e) { e.uncompressed_size += 1; }, true,
         "io error: size mismatch in entry a.txt"},
        {"bomb: declared size no deflate stream can reach", [](RawEntry& e) { e.uncompressed_size = 0xfffffff0; },
         true, "io error: declared size of entry a.txt exceeds what its compressed data can hold"},
        {"deflate garbage", [](RawEntry& e) { e.data = std::string(e.data.size(), '\xff'); }, true,
         "io error: invalid deflate data in entry a.txt"},
        {"untouched", [](RawEntry&) {}, true, "success"},
    };
    TempDir temp;
    for (const auto& item : cases) {
        SCOPED_TRACE(item.label);
        RawEntry entry = item.deflate ? deflated_entry("a.txt", text) : stored_entry("a.txt", text);
        item.spoil(entry);
        replace_file(temp.file("e.zip"), raw_archive({entry}));
        EXPECT_EQ(describe(read_everything(temp.file("e.zip"))), item.expected);
    }
}

TEST(ZipReader, BrokenDirectoriesFailToOpen) {
    using namespace zip_format;
    const std::string good = raw_archive({stored_entry("a.txt", "alpha"), stored_entry("b.txt", "bravo")});
    const std::size_t end = good.size() - end_record_size;
    auto patched = [&](std::size_t at, std::string_view bytes) {
        std::string archive = good;
        archive.replace(at, bytes.size(), bytes);
        return archive;
    };
    auto u32 = [](std::uint32_t value) { std::string out; append_u32(out, value); return out; };
    auto u16 = [](std::uint16_t value) { std::string out; append_u16(out, value); return out; };
    const std::size_t directory = load_u32(good, end + 16);
    std::string zip64_locator;  // points at offset 0, which holds a local header
    append_u32(zip64_locator, zip64_locator_signature);
    append_u32(zip64_locator, 0);
    append_u64(zip64_locator, 0);
    append_u32(zip64_locator, 1);
    std::string lying_zip64 = good;  // says the offset is in a ZIP64 field that is absent
    lying_zip64.replace(directory + 42, 4, u32(0xffffffff));
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "end of central directory record not found"},
        {"PK\x05\x06", "end of central directory record not found"},
        {std::string(100, 'x'), "end of central directory record not found"},
        {patched(end + 16, u32(static_cast<std::uint32_t>(end))), "central directory lies outside the file"},
        {patched(end + 12, u32(static_cast<std::uint32_t>(end))), "central directory lies outside the file"},
        {patched(end + 10, u16(3)), "truncated central directory"},
        {patched(directory, "PK\x01\x03"), "invalid central directory header"},
        {patched(directory + 28, u16(200)), "truncated central directory"},
        {patched(end - zip64_locator.size(), zip64_locator), "invalid zip64 end of central directory record"},
        {lying_zip64, "invalid zip64 extra field in entry a.txt"},
    };
    TempDir temp;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        replace_file(temp.file("b.zip"), cases[i].first);
        auto reader = ZipReader::open(temp.file("b.zip"));
        ASSERT_FALSE(reader.ok());
        EXPECT_EQ(reader.error().display(), "zip error: " + cases[i].second);
    }
}

std::string small_archive(const TempDir& temp) {
    write_test_archive(temp.file("small.zip"), {{"[Content_Types].xml", "<Types/>"},
                                                 {"ppt/", ""},
                                                 {"ppt/slides/slide1.xml", std::string(300, 's'), zip_method_stored},
                                                 {"ppt/media/image1.png", "\x89PNG\r\n\x1a\n data"}});
    return read_file(temp.file("small.zip"));
}

TEST(ZipReader, EveryTruncationFailsCleanly) {
    TempDir temp;
    const std::string archive = small_archive(temp);
    ASSERT_EQ(describe(read_everything(temp.file("small.zip"))), "success");
    for (std::size_t length = 0; length < archive.size(); ++length) {
        SCOPED_TRACE(length);
        replace_file(temp.file("cut.zip"), archive.substr(0, length));
        EXPECT_EQ(describe(read_everything(temp.file("cut.zip"))),
                  "zip error: end of central directory record not found");
    }
    // Cutting bytes off the front keeps the end record but moves everything.
    for (std::size_t skipped = 1; skipped < archive.size(); ++skipped) {
        SCOPED_TRACE(skipped);
        replace_file(temp.file("cut.zip"), archive.substr(skipped));
        const std::string result = describe(read_everything(temp.file("cut.zip")));
        if (skipped <= archive.size() - zip_format::end_record_size)
            EXPECT_EQ(result, "zip error: central directory lies outside the file");
        else
            EXPECT_EQ(result, "zip error: end of central directory record not found");
    }
}

TEST(ZipReader, EveryCorruptedByteIsCaughtOrHarmless) {
    TempDir temp;
    const std::string archive = small_archive(temp);
    std::vector<std::string> expected;
    ASSERT_EQ(describe(read_everything(temp.file("small.zip"), &expected)), "success");
    std::size_t caught = 0;
    for (std::size_t at = 0; at < archive.size(); ++at) {
        SCOPED_TRACE(at);
        std::string spoiled = archive;
        spoiled[at] = static_cast<char>(spoiled[at] ^ 0x5a);
        replace_file(temp.file("bad.zip"), spoiled);
        const auto [one_by_one, together] = opened_one_by_one_and_together(temp.file("bad.zip"));
        EXPECT_EQ(together, one_by_one);
        std::vector<std::string> contents;
        const auto failure = read_everything(temp.file("bad.zip"), &contents);
        if (failure) {
            EXPECT_TRUE(failure->kind == ErrorKind::Io || failure->kind == ErrorKind::Zip) << describe(failure);
            ++caught;
        } else {
            // Whatever still reads must be what was written: CRCs guard data.
            EXPECT_EQ(contents, expected);
        }
    }
    EXPECT_GT(caught, archive.size() / 2);
}

}  // namespace
}  // namespace zandrel
