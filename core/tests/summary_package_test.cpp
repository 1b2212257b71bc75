// Presentation and slide summaries over whole packages: slide order, notes,
// relationship lists, probes, the macro flag, errors, and every corpus deck.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "json_output.hpp"
#include "summary_package_extract.hpp"
#include "test_support.hpp"

namespace zandrel {
namespace {

using testing::TempDir;
using testing::TestEntry;
using Strings = std::vector<std::string>;

const std::string rel_base = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

std::string rels(const std::vector<std::array<std::string, 3>>& items) {
    std::string xml = decl + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (const auto& [id, type, target] : items) {
        std::string full_type = type.find("://") == std::string::npos ? rel_base + type : type;
        xml += "<Relationship Id=\"" + id + "\" Type=\"" + full_type + "\" Target=\"" + target + "\"/>";
    }
    return xml + "</Relationships>";
}

std::string slide(const std::string& shapes, const std::string& after_tree = "") {
    return decl + "<p:sld xmlns:a=\"a\" xmlns:p=\"p\" xmlns:r=\"r\"><p:cSld><p:spTree><p:nvGrpSpPr/><p:grpSpPr/>" +
           shapes + "</p:spTree></p:cSld>" + after_tree + "</p:sld>";
}

std::string text_box(int id, const std::string& text) {
    return "<p:sp><p:nvSpPr><p:cNvPr id=\"" + std::to_string(id) + "\" name=\"Box " + std::to_string(id) +
           "\"/></p:nvSpPr><p:spPr/><p:txBody><a:p><a:r><a:t>" + text + "</a:t></a:r></a:p></p:txBody></p:sp>";
}

// Two slides listed in the order slide2, slide1; slide1 carries notes, a
// transition, a table and one relationship of every filtered kind.
std::vector<TestEntry> sample_deck() {
    std::string table = "<p:graphicFrame><p:nvGraphicFramePr><p:cNvPr id=\"3\" name=\"T\"/></p:nvGraphicFramePr>"
                        "<a:graphic><a:graphicData><a:tbl><a:tr><a:tc><a:txBody><a:p><a:r><a:t>cell</a:t></a:r>"
                        "</a:p></a:txBody></a:tc></a:tr></a:tbl></a:graphicData></a:graphic></p:graphicFrame>";
    return {
        {"[Content_Types].xml", "<Types/>"},
        {"ppt/presentation.xml", decl + "<p:presentation xmlns:p=\"p\" xmlns:r=\"r\"><p:sldIdLst>"
                                        "<p:sldId id=\"256\" r:id=\"rId3\"/><p:sldId id=\"257\" r:id=\"rId2\"/>"
                                        "</p:sldIdLst></p:presentation>"},
        {"ppt/_rels/presentation.xml.rels",
         rels({{"rId2", "slide", "slides/slide1.xml"}, {"rId3", "slide", "/ppt/slides/slide2.xml"}})},
        {"ppt/slides/slide1.xml",
         slide(text_box(2, "  Salt &amp; pepper  ") + table,
               "<mc:AlternateContent><mc:Choice><p:transition spd=\"slow\"/></mc:Choice></mc:AlternateContent>")},
        {"ppt/slides/_rels/slide1.xml.rels",
         rels({{"rId1", "slideLayout", "../slideLayouts/slideLayout1.xml"},
               {"rId10", "image", "../media/image1.png"},
               {"rId2", "chart", "../charts/chart1.xml"},
               {"rId3", "comments", "../comments/comment1.xml"},
               {"rId4", "http://schemas.microsoft.com/office/2007/relationships/media", "../media/media1.mp4"},
               {"rId5", "video", "../media/media1.mp4"},
               {"rId6", "oleObject", "../embeddings/oleObject1.bin"},
               {"rId7", "package", "../embeddings/Sheet1.xlsx"},
               {"rId8", "notesSlide", "../notesSlides/notesSlide1.xml"},
               {"rId9", "http://example.com/relationships/comment", "../comments/old.xml"}})},
        {"ppt/notesSlides/notesSlide1.xml",
         decl + "<p:notes xmlns:a=\"a\" xmlns:p=\"p\"><a:t> Speaker </a:t><a:t>notes</a:t></p:notes>"},
        {"ppt/slides/slide2.xml", slide(text_box(2, "second"), "<p:timing/>")},
        {"ppt/slides/_rels/slide2.xml.rels", rels({{"rId1", "notesSlide", "../notesSlides/missing.xml"}})},
        {"ppt/vbaProject.bin", "macro"},
    };
}

class SummaryPackageTest : public ::testing::Test {
protected:
    std::string write(const std::vector<TestEntry>& entries, const std::string& name = "deck.pptx") {
        std::string path = dir_.file(name);
        testing::write_test_archive(path, entries);
        return path;
    }
    TempDir dir_;
};

TEST_F(SummaryPackageTest, SlidesFollowThePresentationOrderWithTheirContent) {
    std::string path = write(sample_deck());
    auto presentation = summarize_presentation(path);
    ASSERT_TRUE(presentation.ok()) << presentation.error().display();
    EXPECT_EQ(presentation->path, path);
    EXPECT_TRUE(presentation->has_vba);
    ASSERT_EQ(presentation->slide_count, 2u);
    const SlideSummary& second = presentation->slides[0];
    const SlideSummary& first = presentation->slides[1];
    EXPECT_EQ(second.part, "ppt/slides/slide2.xml");
    EXPECT_EQ(first.part, "ppt/slides/slide1.xml");

    EXPECT_EQ(first.texts, (Strings{"Salt&pepper", "cell"}));
    ASSERT_EQ(first.shapes.size(), 2u);
    EXPECT_EQ(first.shapes[0].text, "  Salt & pepper  ");
    ASSERT_EQ(first.tables.size(), 1u);
    EXPECT_EQ(first.tables[0].rows, (std::vector<Strings>{{"cell"}}));
    EXPECT_EQ(first.shapes[1].tables, first.tables);
    EXPECT_EQ(first.notes, (Strings{"Speaker", "notes"}));
    EXPECT_TRUE(first.has_transition);
    EXPECT_FALSE(first.has_timing);

    // a notes relationship whose part is missing gives no notes, not an error
    EXPECT_TRUE(second.notes.empty());
    EXPECT_FALSE(second.has_transition);
    EXPECT_TRUE(second.has_timing);
}

TEST_F(SummaryPackageTest, RelationshipsAreSortedByIdAndFilteredByTypeSuffix) {
    auto slide = summarize_slide_at_index(write(sample_deck()), 1);
    ASSERT_TRUE(slide.ok()) << slide.error().display();
    auto ids = [](const std::vector<RelationshipSummary>& list) {
        Strings out;
        for (const auto& relationship : list) out.push_back(relationship.id);
        return out;
    };
    EXPECT_EQ(ids(slide->relationships),
              (Strings{"rId1", "rId10", "rId2", "rId3", "rId4", "rId5", "rId6", "rId7", "rId8", "rId9"}));
    EXPECT_EQ(ids(slide->image_relationships), (Strings{"rId10"}));
    EXPECT_EQ(ids(slide->chart_relationships), (Strings{"rId2"}));
    EXPECT_EQ(ids(slide->comment_relationships), (Strings{"rId3", "rId9"}));
    EXPECT_EQ(ids(slide->media_relationships), (Strings{"rId4", "rId5"}));
    EXPECT_EQ(ids(slide->ole_relationships), (Strings{"rId6", "rId7"}));
    EXPECT_EQ(slide->image_relationships[0].target, "../media/image1.png");
}

TEST_F(SummaryPackageTest, SingleSlideEqualsItsEntryInThePresentation) {
    std::string path = write(sample_deck());
    auto presentation = summarize_presentation(path);
    ASSERT_TRUE(presentation.ok());
    for (std::size_t i = 0; i < presentation->slides.size(); ++i) {
        auto slide = summarize_slide_at_index(path, i);
        ASSERT_TRUE(slide.ok()) << slide.error().display();
        EXPECT_EQ(*slide, presentation->slides[i]);
    }
    auto missing = summarize_slide_at_index(path, 2);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().display(), "invalid input: slide index 2 was not found");
}

TEST_F(SummaryPackageTest, PackageWithoutSlidesHasNone) {
    auto presentation = summarize_presentation(write({{"[Content_Types].xml", "<Types/>"}}));
    ASSERT_TRUE(presentation.ok()) << presentation.error().display();
    EXPECT_EQ(presentation->slide_count, 0u);
    EXPECT_TRUE(presentation->slides.empty());
    EXPECT_FALSE(presentation->has_vba);
    EXPECT_EQ(to_json_text(*presentation).text,
              "{\n  \"path\": \"" + presentation->path + "\",\n  \"slide_count\": 0,\n  \"slides\": [],\n"
              "  \"has_vba\": false\n}");
}

TEST_F(SummaryPackageTest, MalformedSlideXmlGivesShortListsNotErrors) {
    std::vector<TestEntry> entries = {
        {"ppt/slides/slide1.xml",
         "<p:sld><p:cSld><p:spTree>" + text_box(2, "kept") + "<p:sp><a:t>x</a:q></p:sp></p:spTree></p:cSld>"
         "<p:transition/></p:sld>"},
    };
    auto presentation = summarize_presentation(write(entries));
    ASSERT_TRUE(presentation.ok()) << presentation.error().display();
    const SlideSummary& slide = presentation->slides.at(0);
    EXPECT_EQ(slide.texts, (Strings{"kept"}));
    EXPECT_FALSE(slide.has_transition);
    // shapes are found by text scanning; the broken one's pass stops at once
    ASSERT_EQ(slide.shapes.size(), 2u);
    EXPECT_EQ(slide.shapes[0].text, "kept");
    EXPECT_EQ(slide.shapes[1].kind, "shape");
    EXPECT_TRUE(slide.shapes[1].paragraphs.empty());
}

TEST_F(SummaryPackageTest, FileErrorsKeepTheirKinds) {
    auto absent = summarize_presentation(dir_.file("absent.pptx"));
    ASSERT_FALSE(absent.ok());
    EXPECT_EQ(absent.error().kind, ErrorKind::Io);

    testing::write_file(dir_.file("plain.pptx"), "not a zip archive");
    auto plain = summarize_slide_at_index(dir_.file("plain.pptx"), 0);
    ASSERT_FALSE(plain.ok());
    EXPECT_EQ(plain.error().display(), "zip error: end of central directory record not found");
}

// Sixty slides with enough text for worker threads, stored so that their
// text can be found in the file.
std::vector<TestEntry> large_deck() {
    std::string ids;
    std::vector<std::array<std::string, 3>> slide_rels;
    std::vector<TestEntry> entries = {{"[Content_Types].xml", "<Types/>"}};
    for (int i = 1; i <= 60; ++i) {
        const std::string n = std::to_string(i);
        ids += "<p:sldId id=\"" + std::to_string(255 + i) + "\" r:id=\"rId" + n + "\"/>";
        slide_rels.push_back({"rId" + n, "slide", "slides/slide" + n + ".xml"});
        std::string boxes;
        for (int box = 0; box < 20; ++box) boxes += text_box(box + 2, "slide " + n + " box " + std::to_string(box));
        entries.push_back({"ppt/slides/slide" + n + ".xml", slide(boxes), zip_method_stored});
    }
    entries.push_back({"ppt/presentation.xml", decl + "<p:presentation xmlns:p=\"p\" xmlns:r=\"r\"><p:sldIdLst>" +
                                                   ids + "</p:sldIdLst></p:presentation>"});
    entries.push_back({"ppt/_rels/presentation.xml.rels", rels(slide_rels)});
    return entries;
}

TEST_F(SummaryPackageTest, SlidesSummarisedOnSeveralThreadsKeepTheirOrderAndText) {
    std::string path = write(large_deck());
    auto presentation = summarize_presentation(path);
    ASSERT_TRUE(presentation.ok()) << presentation.error().display();
    ASSERT_EQ(presentation->slides.size(), 60u);
    for (std::size_t i = 0; i < 60; ++i) {
        EXPECT_EQ(presentation->slides[i].part, "ppt/slides/slide" + std::to_string(i + 1) + ".xml");
        EXPECT_EQ(presentation->slides[i].texts.at(19), "slide " + std::to_string(i + 1) + " box 19");
    }
    auto text = summarize_presentation_json(path);
    ASSERT_TRUE(text.ok()) << text.error().display();
    EXPECT_EQ(text->text, to_json_text(*presentation).text);
    for (std::size_t i : {0u, 31u, 59u}) {
        auto slide = summarize_slide_at_index(path, i);
        ASSERT_TRUE(slide.ok()) << slide.error().display();
        EXPECT_EQ(*slide, presentation->slides[i]);
    }
}

TEST_F(SummaryPackageTest, TheFirstUnreadableSlideIsReportedWhicheverThreadMeetsIt) {
    std::string path = write(large_deck());
    std::string bytes = testing::read_file(path);
    for (const char* text : {"slide 45 box 3<", "slide 20 box 3<", "slide 58 box 3<"})
        bytes[bytes.find(text) + 6] = '#';  // the stored CRC no longer matches
    testing::write_file(path, bytes);
    const std::string expected = "io error: crc mismatch in entry ppt/slides/slide20.xml";
    for (int round = 0; round < 10; ++round) {
        auto presentation = summarize_presentation(path);
        ASSERT_FALSE(presentation.ok());
        EXPECT_EQ(presentation.error().display(), expected);
        auto text = summarize_presentation_json(path);
        ASSERT_FALSE(text.ok());
        EXPECT_EQ(text.error().display(), expected);
    }
}

TEST_F(SummaryPackageTest, EveryCorpusDeckSummarisesAndEachSlideMatches) {
    ZANDREL_REQUIRE_CORPUS();
    const std::vector<std::filesystem::path> decks = testing::valid_corpus_decks();
    ASSERT_GE(decks.size(), 80u);
    std::size_t slides = 0;
    for (const auto& deck : decks) {
        SCOPED_TRACE(deck.string());
        auto presentation = summarize_presentation(deck.string());
        ASSERT_TRUE(presentation.ok()) << presentation.error().display();
        EXPECT_EQ(presentation->slide_count, presentation->slides.size());
        JsonText json = to_json_text(*presentation);
        ASSERT_FALSE(json.error) << *json.error;
        EXPECT_EQ(Json::parse(json.text).dump(2), json.text);
        auto written_apart = summarize_presentation_json(deck.string());
        ASSERT_TRUE(written_apart.ok()) << written_apart.error().display();
        EXPECT_EQ(written_apart->text, json.text);
        for (std::size_t i = 0; i < presentation->slides.size(); ++i) {
            auto slide = summarize_slide_at_index(deck.string(), i);
            ASSERT_TRUE(slide.ok()) << slide.error().display();
            EXPECT_EQ(*slide, presentation->slides[i]);
        }
        slides += presentation->slides.size();
    }
    EXPECT_GT(slides, 500u);
}

}  // namespace
}  // namespace zandrel
