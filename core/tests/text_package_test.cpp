#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json_output.hpp"
#include "package_reader.hpp"
#include "text_rewrite_package.hpp"
#include "test_support.hpp"
#include "text_test_support.hpp"

namespace zandrel {
namespace {

using testing::compressed_entry_bytes;
using testing::content_of;
using testing::error_text;
using testing::plain_paragraph;
using testing::TempDir;
using testing::text_shape;
using testing::text_slide;

const std::string rels_ns = "http://schemas.openxmlformats.org/package/2006/relationships";
const std::string rel_type = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

std::string relationship(std::string_view id, std::string_view type, std::string_view target) {
    return "<Relationship Id=\"" + std::string(id) + "\" Type=\"" + rel_type + std::string(type) +
           "\" Target=\"" + std::string(target) + "\"/>";
}

// Two slides listed in the order slide2, slide1; "cat" also sits in a notes
// page and a layout, which are never searched.
class TextPackageTest : public ::testing::Test {
protected:
    void SetUp() override { write_deck(slide1); }

    void write_deck(const std::string& first_slide) {
        testing::write_test_archive(input, {
            {"[Content_Types].xml", "<Types/>"},
            {"_rels/.rels", "<Relationships xmlns=\"" + rels_ns + "\">" +
                                relationship("rId1", "officeDocument", "ppt/presentation.xml") + "</Relationships>"},
            {"ppt/presentation.xml",
             "<p:presentation xmlns:p=\"p\" xmlns:r=\"r\"><p:sldIdLst><p:sldId id=\"256\" r:id=\"rId2\"/>"
             "<p:sldId id=\"257\" r:id=\"rId1\"/></p:sldIdLst></p:presentation>"},
            {"ppt/_rels/presentation.xml.rels", "<Relationships xmlns=\"" + rels_ns + "\">" +
                                                    relationship("rId1", "slide", "slides/slide1.xml") +
                                                    relationship("rId2", "slide", "slides/slide2.xml") +
                                                    "</Relationships>"},
            {"ppt/media/", ""},
            {"ppt/slides/slide1.xml", first_slide},
            {"ppt/slides/slide2.xml", slide2, zip_method_stored},
            {"ppt/slides/_rels/slide1.xml.rels", "<Relationships xmlns=\"" + rels_ns + "\"/>"},
            {"ppt/notesSlides/notesSlide1.xml", text_slide(text_shape("N", plain_paragraph({"cat"})))},
            {"ppt/slideLayouts/slideLayout1.xml", text_slide(text_shape("L", plain_paragraph({"cat"})))},
            {"ppt/media/image1.png", std::string(3000, '\x89')},
        });
    }

    ZipReader open(const std::string& path) { return std::move(ZipReader::open(path).value()); }

    // Entry order, names, methods and the 1980-01-01 timestamp of every file
    // entry; untouched entries keep content and compressed bytes.
    void expect_re_encoded(const std::vector<std::string>& edited) {
        ZipReader in = open(input);
        ZipReader out = open(output);
        ASSERT_EQ(out.entry_count(), in.entry_count());
        for (std::size_t i = 0; i < in.entry_count(); ++i) {
            const ZipEntry& before = in.entry(i);
            const ZipEntry& after = out.entry(i);
            EXPECT_EQ(after.name, before.name);
            EXPECT_EQ(after.is_directory(), before.is_directory()) << before.name;
            if (before.is_directory()) continue;
            EXPECT_EQ(after.method, before.method) << before.name;
            EXPECT_EQ(after.dos_date, 0x0021) << before.name;
            EXPECT_EQ(after.dos_time, 0x0000) << before.name;
            if (std::find(edited.begin(), edited.end(), before.name) != edited.end()) continue;
            EXPECT_EQ(content_of(out, after.name), content_of(in, before.name)) << before.name;
            EXPECT_EQ(compressed_entry_bytes(out, i), compressed_entry_bytes(in, i)) << before.name;
        }
    }

    TempDir dir;
    std::string input = dir.file("in.pptx");
    std::string output = dir.file("out/edited.pptx");
    std::string slide1 = text_slide(text_shape("A", plain_paragraph({"cat and cat", "Cat"})));
    std::string slide2 = text_slide(text_shape("B", plain_paragraph({"a cat"})));
};

TEST_F(TextPackageTest, ReplacesOnEverySlideAndOnlyThere) {
    auto summary = replace_slide_text(input, output, "cat", "dog");
    ASSERT_TRUE(summary.ok()) << summary.error().display();
    EXPECT_EQ(summary->path, output);
    EXPECT_EQ(summary->replacements, 3u);
    EXPECT_EQ(summary->part_count, 11u);
    EXPECT_FALSE(summary->has_vba);
    expect_re_encoded({"ppt/slides/slide1.xml", "ppt/slides/slide2.xml"});
    ZipReader out = open(output);
    EXPECT_EQ(content_of(out, "ppt/slides/slide1.xml"),
              text_slide(text_shape("A", plain_paragraph({"dog and dog", "Cat"}))));
    EXPECT_EQ(content_of(out, "ppt/slides/slide2.xml"), text_slide(text_shape("B", plain_paragraph({"a dog"}))));
}

TEST_F(TextPackageTest, SlideIndexFollowsPresentationOrder) {
    struct Case {
        std::uint64_t index;
        std::uint64_t count;
        std::string changed;
    };
    for (const Case& c : {Case{0, 1, "ppt/slides/slide2.xml"}, Case{1, 2, "ppt/slides/slide1.xml"}}) {
        auto summary = replace_slide_text_at_index(input, output, c.index, "cat", "dog");
        ASSERT_TRUE(summary.ok()) << summary.error().display();
        EXPECT_EQ(summary->replacements, c.count);
        expect_re_encoded({c.changed});
        EXPECT_NE(content_of(open(output), c.changed), content_of(open(input), c.changed));
    }
}

TEST_F(TextPackageTest, NoMatchAndEmptySearchStillWriteTheWholePackage) {
    for (std::string_view search : {"mouse", ""}) {
        auto summary = replace_slide_text(input, output, search, "dog");
        ASSERT_TRUE(summary.ok()) << summary.error().display();
        EXPECT_EQ(summary->replacements, 0u);
        EXPECT_EQ(summary->part_count, 11u);
        expect_re_encoded({});
    }
}

TEST_F(TextPackageTest, SettersReportTheirIndicesAndCounts) {
    auto shape = set_slide_shape_text_at_index(input, output, 1, 0, "x\ny");
    ASSERT_TRUE(shape.ok()) << shape.error().display();
    EXPECT_EQ(content_of(open(output), "ppt/slides/slide1.xml"),
              text_slide(text_shape("A", "<a:p><a:r><a:t>x</a:t></a:r></a:p><a:p><a:r><a:t>y</a:t></a:r></a:p>")));
    expect_re_encoded({"ppt/slides/slide1.xml"});
    EXPECT_EQ(to_pretty_json(Json(*shape)),
              "{\n  \"path\": \"" + output +
                  "\",\n  \"slide_index\": 1,\n  \"shape_index\": 0,\n  \"replacements\": 1,\n"
                  "  \"part_count\": 11,\n  \"has_vba\": false\n}");

    auto paragraph = set_slide_shape_paragraph_text_at_index(input, output, 1, 0, 0, "z");
    ASSERT_TRUE(paragraph.ok()) << paragraph.error().display();
    EXPECT_EQ(paragraph->replacements, 2u);
    EXPECT_EQ(to_pretty_json(Json(*paragraph)),
              "{\n  \"path\": \"" + output +
                  "\",\n  \"slide_index\": 1,\n  \"shape_index\": 0,\n  \"paragraph_index\": 0,\n"
                  "  \"replacements\": 2,\n  \"part_count\": 11,\n  \"has_vba\": false\n}");

    auto run = replace_slide_text_run_at_index(input, output, 0, 0, "q");
    ASSERT_TRUE(run.ok()) << run.error().display();
    EXPECT_EQ(content_of(open(output), "ppt/slides/slide2.xml"), text_slide(text_shape("B", plain_paragraph({"q"}))));
    EXPECT_EQ(to_pretty_json(Json(*run)),
              "{\n  \"path\": \"" + output +
                  "\",\n  \"slide_index\": 0,\n  \"run_index\": 0,\n  \"replacements\": 1,\n"
                  "  \"part_count\": 11,\n  \"has_vba\": false\n}");

    auto missing_shape = set_slide_shape_text_at_index(input, output, 0, 7, "x");
    ASSERT_TRUE(missing_shape.ok());
    EXPECT_EQ(missing_shape->replacements, 0u);
    expect_re_encoded({});

    auto all = replace_slide_text(input, output, "cat", "dog");
    ASSERT_TRUE(all.ok());
    EXPECT_EQ(to_pretty_json(Json(*all)), "{\n  \"path\": \"" + output +
                                              "\",\n  \"replacements\": 3,\n  \"part_count\": 11,\n"
                                              "  \"has_vba\": false\n}");
}

TEST_F(TextPackageTest, MissingSlideFailsBeforeTheOutputExists) {
    const std::string message = "invalid input: slide index 2 was not found";
    EXPECT_EQ(error_text(replace_slide_text_at_index(input, output, 2, "cat", "dog")), message);
    EXPECT_EQ(error_text(replace_slide_text_run_at_index(input, output, 2, 0, "x")), message);
    EXPECT_EQ(error_text(set_slide_shape_text_at_index(input, output, 2, 0, "x")), message);
    EXPECT_EQ(error_text(set_slide_shape_paragraph_text_at_index(input, output, 2, 0, 0, "x")), message);
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(TextPackageTest, CallerTextIsCheckedBeforeAnyFileIsTouched) {
    const std::string absent = dir.file("absent.pptx");
    const std::string message = "invalid input: text contains a character that XML does not allow: U+FFFE";
    const std::string bad = "\xEF\xBF\xBE";
    EXPECT_EQ(error_text(replace_slide_text(absent, output, "cat", bad)), message);
    EXPECT_EQ(error_text(replace_slide_text(absent, output, bad, "dog")), message);
    EXPECT_EQ(error_text(replace_slide_text_at_index(absent, output, 0, "cat", bad)), message);
    EXPECT_EQ(error_text(replace_slide_text_run_at_index(absent, output, 0, 0, bad)), message);
    EXPECT_EQ(error_text(set_slide_shape_text_at_index(absent, output, 0, 0, bad)), message);
    EXPECT_EQ(error_text(set_slide_shape_paragraph_text_at_index(absent, output, 0, 0, 0, bad)), message);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(output).parent_path()));
}

TEST_F(TextPackageTest, MalformedSlideLeavesNoPartialPackage) {
    write_deck(text_slide(text_shape("A", "<a:p><a:r><a:t>cat</a:r></a:p>")));
    std::filesystem::create_directories(std::filesystem::path(output).parent_path());
    testing::write_file(output, "previous output");
    const std::string mismatch = "xml error: mismatched end tag: expected </a:t>, found </a:r>";
    EXPECT_EQ(error_text(replace_slide_text(input, output, "cat", "dog")).substr(0, mismatch.size()), mismatch);
    EXPECT_EQ(error_text(set_slide_shape_paragraph_text_at_index(input, output, 1, 0, 0, "x")).substr(0, mismatch.size()),
              mismatch);
    EXPECT_EQ(testing::read_file(output), "previous output");
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::path(output).parent_path()))
        files.push_back(entry.path().filename().string());
    EXPECT_EQ(files, std::vector<std::string>{"edited.pptx"});
    // the other slide is fine, so editing only it succeeds
    EXPECT_TRUE(replace_slide_text_at_index(input, output, 0, "cat", "dog").ok());
}

TEST_F(TextPackageTest, EditingInPlaceIsSafe) {
    std::filesystem::copy_file(input, dir.file("copy.pptx"));
    auto summary = replace_slide_text(dir.file("copy.pptx"), dir.file("copy.pptx"), "cat", "dog");
    ASSERT_TRUE(summary.ok()) << summary.error().display();
    EXPECT_EQ(content_of(open(dir.file("copy.pptx")), "ppt/slides/slide2.xml"),
              text_slide(text_shape("B", plain_paragraph({"a dog"}))));
}

}  // namespace
}  // namespace zandrel
