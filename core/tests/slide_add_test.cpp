// Adding a blank slide: names and ids, the layout it is made from, the
// placeholders copied from that layout, and the raw copy of everything else.
#include <gtest/gtest.h>

#include "package_mutation_slides.hpp"
#include "slide_test_deck.hpp"
#include "xml_placeholder_builders.hpp"

namespace zandrel::testing {
namespace {

class SlideAdd : public ::testing::Test {
protected:
    std::string input() {
        write_test_archive(temp.file("in.pptx"), entries);
        return temp.file("in.pptx");
    }
    std::string output() const { return temp.file("out/out.pptx"); }

    TempDir temp;
    std::vector<TestEntry> entries = deck_entries(2);
};

TEST_F(SlideAdd, AppendsSlideAndCopiesEverythingElseRaw) {
    entries[5].method = zip_method_stored;  // a stored entry stays as it was
    const std::string in = input();
    auto result = add_blank_slide(in, output(), std::nullopt);
    ASSERT_TRUE(result.ok()) << failure_text(result);
    EXPECT_EQ(result->path, output());
    EXPECT_EQ(result->slide_part, "ppt/slides/slide3.xml");
    EXPECT_EQ(result->relationship_id, "rId5");
    EXPECT_EQ(result->layout_target, "../slideLayouts/slideLayout1.xml");
    EXPECT_EQ(result->slide_id, 258u);
    EXPECT_EQ(result->slide_count, 3u);
    EXPECT_EQ(result->part_count, entries.size() + 2);
    EXPECT_FALSE(result->has_vba);

    const PackageContents before = read_package(in);
    const PackageContents after = read_package(output());
    ASSERT_EQ(after.names.size(), before.names.size() + 2);
    EXPECT_EQ(after.names[after.names.size() - 2], "ppt/slides/slide3.xml");
    EXPECT_EQ(after.names.back(), "ppt/slides/_rels/slide3.xml.rels");
    for (std::size_t i = 0; i < before.names.size(); ++i) {
        ASSERT_EQ(after.names[i], before.names[i]);
        const std::string& name = before.names[i];
        const bool replaced = name == "[Content_Types].xml" || name == "ppt/presentation.xml" ||
                              name == "ppt/_rels/presentation.xml.rels";
        const ZipEntry& old_entry = before.entries[i];
        const ZipEntry& new_entry = after.entries[i];
        EXPECT_EQ(new_entry.method, old_entry.method) << name;
        if (replaced) {
            EXPECT_EQ(new_entry.dos_date, 0x0021) << name;
            continue;
        }
        EXPECT_EQ(new_entry.crc32, old_entry.crc32) << name;
        EXPECT_EQ(new_entry.compressed_size, old_entry.compressed_size) << name;
        EXPECT_EQ(new_entry.dos_date, old_entry.dos_date) << name;
        EXPECT_EQ(new_entry.dos_time, old_entry.dos_time) << name;
    }
    EXPECT_NE(after.at("ppt/presentation.xml").find("<p:sldId id=\"258\" r:id=\"rId5\"/></p:sldIdLst>"),
              std::string::npos);
    EXPECT_NE(after.at("ppt/_rels/presentation.xml.rels")
                  .find("<Relationship Id=\"rId5\" Type=\"" + std::string(slide_relationship_type) +
                        "\" Target=\"slides/slide3.xml\"/></Relationships>"),
              std::string::npos);
    EXPECT_EQ(after.at("ppt/slides/slide3.xml"), blank_slide_xml(""));
    EXPECT_EQ(after.at("ppt/slides/_rels/slide3.xml.rels"),
              slide_layout_rels_xml("../slideLayouts/slideLayout1.xml"));
}

TEST_F(SlideAdd, ContentTypeOverrideIsNotDuplicated) {
    // a leftover override for the name the new slide receives
    set_entry(entries, "[Content_Types].xml",
              content_types_xml(2, override_xml("/ppt/slides/slide3.xml", pml_type + "slide+xml")));
    ASSERT_TRUE(add_blank_slide(input(), output(), std::nullopt).ok());
    EXPECT_EQ(count_of(read_package(output()).at("[Content_Types].xml"), "/ppt/slides/slide3.xml"), 1u);
}

TEST_F(SlideAdd, LeftoverRelationshipPartIsNotAdopted) {
    entries.push_back({"ppt/slides/_rels/slide3.xml.rels", rels_xml({{"rId1", "image", "../media/gone.png"}})});
    auto result = add_blank_slide(input(), output(), std::nullopt);
    ASSERT_TRUE(result.ok()) << failure_text(result);
    EXPECT_EQ(result->slide_part, "ppt/slides/slide4.xml");
}

TEST_F(SlideAdd, LayoutIndexCountsLayoutsInNaturalOrder) {
    for (const char* name : {"ppt/slideLayouts/slideLayout10.xml", "ppt/slideLayouts/slideLayout2.xml"})
        entries.push_back({name, layout_xml()});
    const std::string in = input();
    const std::pair<std::uint64_t, std::string> cases[] = {
        {0, "../slideLayouts/slideLayout1.xml"},
        {1, "../slideLayouts/slideLayout2.xml"},
        {2, "../slideLayouts/slideLayout10.xml"},
    };
    for (const auto& [index, target] : cases) {
        auto result = add_blank_slide(in, output(), index);
        ASSERT_TRUE(result.ok()) << failure_text(result);
        EXPECT_EQ(result->layout_target, target);
    }
    EXPECT_EQ(failure_text(add_blank_slide(in, output(), 3)),
              "xml text decode error: slide layout index 3 was not found");
}

TEST_F(SlideAdd, DefaultLayoutComesFromTheFirstSlideThatHasOne) {
    entries.push_back({"ppt/slideLayouts/slideLayout3.xml", layout_xml()});
    set_entry(entries, "ppt/slides/_rels/slide1.xml.rels", rels_xml({}));
    set_entry(entries, "ppt/slides/_rels/slide2.xml.rels",
              rels_xml({{"rId1", "image", "../media/a.png"}, {"rId2", "slideLayout", "../slideLayouts/slideLayout3.xml"}}));
    auto result = add_blank_slide(input(), output(), std::nullopt);
    ASSERT_TRUE(result.ok()) << failure_text(result);
    EXPECT_EQ(result->layout_target, "../slideLayouts/slideLayout3.xml");
}

TEST_F(SlideAdd, LayoutErrors) {
    struct Case {
        std::string slide1_rels;
        std::string error;
    };
    const Case cases[] = {
        // the layout it names does not exist: the new slide's link would dangle
        {rels_xml({{"rId1", "slideLayout", "../slideLayouts/slideLayout7.xml"}}),
         "xml text decode error: no slide layout relationship found"},
        {rels_xml({{"rId1", "image", "../media/a.png"}}), "xml text decode error: no slide layout relationship found"},
    };
    for (const Case& c : cases) {
        set_entry(entries, "ppt/slides/_rels/slide1.xml.rels", c.slide1_rels);
        remove_entry(entries, "ppt/slides/_rels/slide2.xml.rels");
        EXPECT_EQ(failure_text(add_blank_slide(input(), output(), std::nullopt)), c.error);
    }
    EXPECT_FALSE(std::filesystem::exists(output()));
}

TEST_F(SlideAdd, LayoutTargetIsEscapedInTheNewRelationshipPart) {
    entries.push_back({"ppt/slideLayouts/a&b.xml", layout_xml()});
    set_entry(entries, "ppt/slides/_rels/slide1.xml.rels",
              rels_xml({{"rId1", "slideLayout", "../slideLayouts/a&amp;b.xml"}}));
    auto result = add_blank_slide(input(), output(), std::nullopt);
    ASSERT_TRUE(result.ok()) << failure_text(result);
    EXPECT_EQ(result->layout_target, "../slideLayouts/a&b.xml");
    EXPECT_NE(read_package(output()).at("ppt/slides/_rels/slide3.xml.rels").find("Target=\"../slideLayouts/a&amp;b.xml\""),
              std::string::npos);
}

TEST_F(SlideAdd, PresentationThatIsNotUtf8IsRefused) {
    set_entry(entries, "ppt/presentation.xml", presentation_xml(slide_list_xml(2), "<!-- caf\xe9 -->"));
    EXPECT_EQ(failure_text(add_blank_slide(input(), output(), std::nullopt)),
              "io error: stream did not contain valid UTF-8");
}

TEST_F(SlideAdd, MissingPartsAndDeckWithoutSlides) {
    remove_entry(entries, "[Content_Types].xml");
    EXPECT_EQ(failure_text(add_blank_slide(input(), output(), std::nullopt)),
              "zip error: file not found: [Content_Types].xml");
    entries = deck_entries(0);
    EXPECT_EQ(failure_text(add_blank_slide(input(), output(), std::nullopt)),
              "xml text decode error: no slide layout relationship found");
    auto result = add_blank_slide(input(), output(), 0);
    ASSERT_TRUE(result.ok()) << failure_text(result);
    EXPECT_EQ(result->slide_part, "ppt/slides/slide1.xml");
    EXPECT_EQ(result->slide_id, 256u);
    EXPECT_NE(read_package(output()).at("ppt/presentation.xml").find(
                  "</p:sldMasterIdLst><p:sldIdLst><p:sldId id=\"256\" r:id=\"rId3\"/></p:sldIdLst>"),
              std::string::npos);
}

const std::string title_placeholder =
    "<p:sp><p:nvSpPr><p:cNvPr id=\"2\" name=\"Title 1\"><a:hlinkClick r:id=\"rId5\"/></p:cNvPr><p:cNvSpPr/>"
    "<p:nvPr><p:ph type=\"title\"/><p:custDataLst><p:tags r:id=\"rId6\"/></p:custDataLst></p:nvPr></p:nvSpPr>"
    "<p:spPr><a:xfrm><a:off x=\"1\" y=\"2\"/></a:xfrm></p:spPr>"
    "<p:txBody><a:bodyPr/><a:p><a:r><a:t>Click</a:t></a:r></a:p></p:txBody></p:sp>";
const std::string body_placeholder =
    "<p:sp><p:nvSpPr><p:cNvPr id=\"3\" name=\"Body\"><a:hlinkHover r:id=\"rId7\"><a:snd r:embed=\"rId8\"/>"
    "</a:hlinkHover></p:cNvPr><p:cNvSpPr/><p:nvPr><p:ph idx=\"1\"/></p:nvPr></p:nvSpPr><p:spPr/>"
    "<p:txBody><a:bodyPr/><a:p><a14:m xmlns:a14=\"urn:inline\"/></a:p></p:txBody>"
    "<p:extLst><p:ext uri=\"u\"><p15:x/></p:ext></p:extLst></p:sp>";
const std::string date_placeholder =
    "<p:sp><p:nvSpPr><p:cNvPr id=\"4\" name=\"Date\"/><p:cNvSpPr/><p:nvPr><p:ph type=\"dt\" idx=\"10\"/></p:nvPr>"
    "</p:nvSpPr><p:spPr/><p:txBody><a:bodyPr/><a:p/></p:txBody></p:sp>";

TEST(SlidePlaceholders, LayoutPlaceholdersAreEmptiedAndStrippedOfLayoutReferences) {
    const std::string layout = layout_xml(title_placeholder + "<p:sp useBgFill=\"1\"><p:ph/></p:sp>" +
                                          body_placeholder + date_placeholder);
    const std::vector<std::string> blocks = extract_placeholder_shape_blocks(layout);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0],
              "<p:sp><p:nvSpPr><p:cNvPr id=\"2\" name=\"Title 1\"></p:cNvPr><p:cNvSpPr/>"
              "<p:nvPr><p:ph type=\"title\"/></p:nvPr></p:nvSpPr><p:spPr/>"
              "<p:txBody><a:bodyPr/><a:lstStyle/><a:p/></p:txBody></p:sp>");
    EXPECT_EQ(blocks[1],
              "<p:sp><p:nvSpPr><p:cNvPr id=\"3\" name=\"Body\"></p:cNvPr><p:cNvSpPr/><p:nvPr><p:ph idx=\"1\"/>"
              "</p:nvPr></p:nvSpPr><p:spPr/><p:txBody><a:bodyPr/><a:lstStyle/><a:p/></p:txBody>"
              "<p:extLst><p:ext uri=\"u\"><p15:x/></p:ext></p:extLst></p:sp>");
}

TEST_F(SlideAdd, NewSlideDeclaresThePrefixesItsPlaceholdersUse) {
    const std::string p15 = "http://schemas.microsoft.com/office/powerpoint/2012/main";
    std::string layout = layout_xml(title_placeholder + body_placeholder + date_placeholder);
    layout.replace(layout.find("<p:sldLayout ") + 13, 0,
                   "xmlns:p15=\"" + p15 + "\" xmlns:unused=\"urn:unused\" ");
    set_entry(entries, "ppt/slideLayouts/slideLayout1.xml", layout);
    ASSERT_TRUE(add_blank_slide(input(), output(), std::nullopt).ok());
    const std::string slide = read_package(output()).at("ppt/slides/slide3.xml");
    const std::vector<std::pair<std::string, std::string>> extra{{"p15", p15}};
    const std::vector<std::string> blocks = extract_placeholder_shape_blocks(layout);
    EXPECT_EQ(slide, blank_slide_xml(blocks[0] + blocks[1], extra));
    EXPECT_EQ(slide.find("urn:unused"), std::string::npos);
    EXPECT_EQ(slide.find("r:id"), std::string::npos);
}

}  // namespace
}  // namespace zandrel::testing
