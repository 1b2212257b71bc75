// Duplicating a slide: shared and copied parts, new names, the rewritten
// relationship parts, content types, the copy policy and the errors.
#include <gtest/gtest.h>

#include "package_mutation_slide_duplicate.hpp"
#include "slide_test_deck.hpp"

namespace zandrel::testing {
namespace {

class SlideDuplicate : public ::testing::Test {
protected:
    std::string input() {
        write_test_archive(temp.file("in.pptx"), entries);
        return temp.file("in.pptx");
    }
    std::string output() const { return temp.file("out.pptx"); }
    Result<SlideAddSummary> run(const std::string& source = "ppt/slides/slide1.xml") {
        return duplicate_slide(input(), output(), source);
    }
    std::vector<std::string> new_names() {
        const std::size_t before = read_package(temp.file("in.pptx")).names.size();
        const PackageContents after = read_package(output());
        return {after.names.begin() + static_cast<std::ptrdiff_t>(before), after.names.end()};
    }
    void set_slide1_rels(const std::vector<Rel>& rels) {
        std::vector<Rel> all{{"rId1", "slideLayout", "../slideLayouts/slideLayout1.xml"}};
        all.insert(all.end(), rels.begin(), rels.end());
        set_entry(entries, "ppt/slides/_rels/slide1.xml.rels", rels_xml(all));
    }

    TempDir temp;
    std::vector<TestEntry> entries = deck_entries(3);
};

TEST_F(SlideDuplicate, SharedPartsAreShared) {
    entries.push_back({"ppt/media/image1.png", "png"});
    set_slide1_rels({{"rId2", "image", "../media/image1.png"},
                     {"rId3", "hyperlink", "https://example.com/?a=1&amp;b=2", "EXTERNAL"}});
    auto result = run();
    ASSERT_TRUE(result.ok()) << failure_text(result);
    EXPECT_EQ(result->slide_part, "ppt/slides/slide4.xml");
    EXPECT_EQ(result->relationship_id, "rId6");
    EXPECT_EQ(result->layout_target, "../slideLayouts/slideLayout1.xml");
    EXPECT_EQ(result->slide_id, 259u);
    EXPECT_EQ(result->slide_count, 4u);
    EXPECT_EQ(new_names(), (std::vector<std::string>{"ppt/slides/slide4.xml", "ppt/slides/_rels/slide4.xml.rels"}));
    const PackageContents after = read_package(output());
    EXPECT_EQ(after.at("ppt/slides/slide4.xml"), after.at("ppt/slides/slide1.xml"));
    EXPECT_EQ(after.at("ppt/slides/_rels/slide4.xml.rels"), after.at("ppt/slides/_rels/slide1.xml.rels"));
    // the copy goes to the end of the list, whatever the position of its source
    EXPECT_NE(after.at("ppt/presentation.xml").find("<p:sldId id=\"258\" r:id=\"rId4\"/><p:sldId id=\"259\" r:id=\"rId6\"/>"
                                                    "</p:sldIdLst>"),
              std::string::npos);
    EXPECT_EQ(count_of(after.at("[Content_Types].xml"), "/ppt/slides/slide4.xml"), 1u);
}

TEST_F(SlideDuplicate, NotesSlideCopyPointsAtTheNewSlide) {
    entries.push_back({"ppt/notesSlides/notesSlide1.xml", "<p:notes " + root_ns + "/>"});
    entries.push_back({"ppt/notesSlides/_rels/notesSlide1.xml.rels",
                       rels_xml({{"rId1", "notesMaster", "../notesMasters/notesMaster1.xml"},
                                 {"rId2", "slide", "../slides/slide1.xml"}})});
    set_slide1_rels({{"rId2", "notesSlide", "../notesSlides/notesSlide1.xml"}});
    ASSERT_TRUE(run().ok());
    EXPECT_EQ(new_names(), (std::vector<std::string>{"ppt/notesSlides/_rels/notesSlide2.xml.rels",
                                                     "ppt/notesSlides/notesSlide2.xml", "ppt/slides/slide4.xml",
                                                     "ppt/slides/_rels/slide4.xml.rels"}));
    const PackageContents after = read_package(output());
    EXPECT_EQ(after.at("ppt/notesSlides/_rels/notesSlide2.xml.rels"),
              rels_xml({{"rId1", "notesMaster", "../notesMasters/notesMaster1.xml"},
                        {"rId2", "slide", "../slides/slide4.xml"}}));
    EXPECT_EQ(after.at("ppt/slides/_rels/slide4.xml.rels"),
              rels_xml({{"rId1", "slideLayout", "../slideLayouts/slideLayout1.xml"},
                        {"rId2", "notesSlide", "../notesSlides/notesSlide2.xml"}}));
    EXPECT_NE(after.at("[Content_Types].xml")
                  .find(override_xml("/ppt/notesSlides/notesSlide2.xml", pml_type + "notesSlide+xml")),
              std::string::npos);
}

TEST_F(SlideDuplicate, ChartIsCopiedWithItsWorkbookAndStyles) {
    entries.push_back({"ppt/embeddings/Workbook1.xlsx", "xlsx-1"});
    entries.push_back({"ppt/embeddings/Workbook2.xlsx", "xlsx-2"});
    entries.push_back({"ppt/charts/chart1.xml", "<c:chartSpace xmlns:c=\"urn:c\"/>"});
    entries.push_back({"ppt/charts/colors1.xml", "<cs:colorStyle xmlns:cs=\"urn:cs\"/>"});
    entries.push_back({"ppt/charts/_rels/chart1.xml.rels",
                       rels_xml({{"rId1", "package", "../embeddings/Workbook1.xlsx"},
                                 {"rId2", "http://schemas.microsoft.com/office/2011/relationships/chartColorStyle",
                                  "colors1.xml"},
                                 {"rId3", "oleObject", "file:///C:/data.xlsx", "External"}})});
    set_slide1_rels({{"rId2", "chart", "../charts/chart1.xml"}});
    ASSERT_TRUE(run().ok());
    EXPECT_EQ(new_names(), (std::vector<std::string>{
                               "ppt/embeddings/Workbook3.xlsx", "ppt/charts/colors2.xml",
                               "ppt/charts/_rels/chart2.xml.rels", "ppt/charts/chart2.xml", "ppt/slides/slide4.xml",
                               "ppt/slides/_rels/slide4.xml.rels"}));
    const PackageContents after = read_package(output());
    EXPECT_EQ(after.at("ppt/embeddings/Workbook3.xlsx"), "xlsx-1");
    EXPECT_EQ(after.at("ppt/charts/_rels/chart2.xml.rels"),
              rels_xml({{"rId1", "package", "../embeddings/Workbook3.xlsx"},
                        {"rId2", "http://schemas.microsoft.com/office/2011/relationships/chartColorStyle",
                         "colors2.xml"},
                        {"rId3", "oleObject", "file:///C:/data.xlsx", "External"}}));
    const std::string& types = after.at("[Content_Types].xml");
    EXPECT_NE(types.find("<Default Extension=\"xlsx\" "), std::string::npos);
    EXPECT_NE(types.find(override_xml("/ppt/charts/colors2.xml", "application/vnd.ms-office.chartcolorstyle+xml")),
              std::string::npos);
    EXPECT_NE(types.find(override_xml("/ppt/charts/chart2.xml",
                                      "application/vnd.openxmlformats-officedocument.drawingml.chart+xml")),
              std::string::npos);
}

// An OLE object's own relationship part comes along, and the new number is
// one whose relationship part name is free too.
TEST_F(SlideDuplicate, CopiedPartBringsItsRelationshipPartUnderAFreeName) {
    entries.push_back({"ppt/embeddings/oleObject1.bin", "ole"});
    entries.push_back({"ppt/embeddings/_rels/oleObject1.bin.rels", rels_xml({{"rId1", "image", "../media/x.png"}})});
    entries.push_back({"ppt/embeddings/_rels/oleObject2.bin.rels", rels_xml({})});  // a leftover
    set_slide1_rels({{"rId2", "oleObject", "../embeddings/oleObject1.bin"}});
    ASSERT_TRUE(run().ok());
    EXPECT_EQ(new_names(), (std::vector<std::string>{"ppt/embeddings/_rels/oleObject3.bin.rels",
                                                     "ppt/embeddings/oleObject3.bin", "ppt/slides/slide4.xml",
                                                     "ppt/slides/_rels/slide4.xml.rels"}));
    const PackageContents after = read_package(output());
    EXPECT_EQ(after.at("ppt/embeddings/_rels/oleObject3.bin.rels"), rels_xml({{"rId1", "image", "../media/x.png"}}));
    EXPECT_NE(after.at("[Content_Types].xml").find("<Default Extension=\"bin\" "), std::string::npos);
    EXPECT_NE(after.at("ppt/slides/_rels/slide4.xml.rels").find("Target=\"../embeddings/oleObject3.bin\""),
              std::string::npos);
}

TEST_F(SlideDuplicate, Errors) {
    struct Case {
        std::vector<Rel> rels;
        std::string error;
    };
    const Case cases[] = {
        {{{"rId2", "slide", "slide2.xml"}},
         "invalid input: cannot duplicate slide relationship type " + std::string(rel_type_prefix) +
             "slide without an explicit copy policy"},
        {{{"rId2", "http://x/tags", "../tags/tag1.xml", "Internal"}},
         "invalid input: cannot duplicate slide relationship type http://x/tags without an explicit copy policy"},
        {{{"rId2", "chart", "../charts/chart9.xml"}}, "invalid input: chart part ppt/charts/chart9.xml was not found"},
        {{{"rId2", "comments", "../comments/c.xml"}}, "invalid input: comment part ppt/comments/c.xml was not found"},
    };
    for (const Case& c : cases) {
        set_slide1_rels(c.rels);
        EXPECT_EQ(failure_text(run()), c.error);
    }
    EXPECT_EQ(failure_text(run("ppt/slides/slide7.xml")),
              "invalid input: source slide part ppt/slides/slide7.xml was not found in the presentation");
    set_entry(entries, "ppt/slides/_rels/slide1.xml.rels", rels_xml({{"rId2", "image", "../media/a.png"}}));
    EXPECT_EQ(failure_text(run()),
              "invalid input: source slide part ppt/slides/slide1.xml has no slide layout relationship");
    set_entry(entries, "ppt/slides/_rels/slide1.xml.rels", "<Relationships><Relationship>");
    EXPECT_EQ(failure_text(run()), "xml error: relationship part ends inside an element");
    EXPECT_FALSE(std::filesystem::exists(output()));
}

TEST(SlideRelationshipTargets, OnlyMappedTargetsChange) {
    const std::string rels = rels_xml({{"rId1", "slideLayout", "../slideLayouts/slideLayout1.xml"},
                                       {"rId2", "chart", "../charts/chart1.xml"}});
    auto result = rewrite_relationship_targets(rels, {{"rId2", "../charts/a&b.xml"}, {"rId9", "x"}});
    ASSERT_TRUE(result.ok()) << failure_text(result);
    EXPECT_EQ(*result, rels_xml({{"rId1", "slideLayout", "../slideLayouts/slideLayout1.xml"},
                                 {"rId2", "chart", "../charts/a&amp;b.xml"}}));
    EXPECT_EQ(*rewrite_relationship_targets(rels, {}), rels);
}

}  // namespace
}  // namespace zandrel::testing
