// Deleting slides: which parts go with them, what happens to references that
// kept parts hold, survivor order, the errors, and the delete writing mode.
#include <gtest/gtest.h>

#include <set>

#include "package_mutation_slide_delete.hpp"
#include "slide_test_deck.hpp"

namespace zandrel::testing {
namespace {

class SlideDelete : public ::testing::Test {
protected:
    std::string input() {
        write_test_archive(temp.file("in.pptx"), entries);
        return temp.file("in.pptx");
    }
    std::string output() const { return temp.file("out.pptx"); }

    Result<SlideDeleteSummary> run(std::vector<std::string> targets,
                                   std::optional<std::vector<std::string>> survivors = std::nullopt) {
        return delete_slides(input(), output(), targets, survivors);
    }

    std::set<std::string> removed_names() {
        const PackageContents before = read_package(temp.file("in.pptx"));
        const PackageContents after = read_package(output());
        std::set<std::string> removed;
        for (const auto& name : before.names)
            if (!after.has(name)) removed.insert(name);
        return removed;
    }

    std::string slide_rels(int slide) const {
        return "ppt/slides/_rels/slide" + std::to_string(slide) + ".xml.rels";
    }

    TempDir temp;
    std::vector<TestEntry> entries = deck_entries(3);
};

TEST_F(SlideDelete, NotesGoWithTheirSlideMastersAndLayoutsStay) {
    std::string overrides;
    for (int i = 1; i <= 3; ++i) {
        const std::string n = std::to_string(i);
        entries.push_back({"ppt/notesSlides/notesSlide" + n + ".xml", "<p:notes " + root_ns + "/>"});
        entries.push_back({"ppt/notesSlides/_rels/notesSlide" + n + ".xml.rels",
                           rels_xml({{"rId1", "notesMaster", "../notesMasters/notesMaster1.xml"},
                                     {"rId2", "slide", "../slides/slide" + n + ".xml"}})});
        set_entry(entries, slide_rels(i),
                  rels_xml({{"rId1", "slideLayout", "../slideLayouts/slideLayout1.xml"},
                            {"rId2", "notesSlide", "../notesSlides/notesSlide" + n + ".xml"}}));
        overrides += override_xml("/ppt/notesSlides/notesSlide" + n + ".xml", pml_type + "notesSlide+xml");
    }
    entries.push_back({"ppt/notesMasters/notesMaster1.xml", "<p:notesMaster " + root_ns + "/>"});
    set_entry(entries, "[Content_Types].xml", content_types_xml(3, overrides));
    set_entry(entries, "ppt/_rels/presentation.xml.rels",
              rels_xml({{"rId1", "slideMaster", "slideMasters/slideMaster1.xml"}, {"rId2", "slide", "slides/slide1.xml"},
                        {"rId3", "slide", "slides/slide2.xml"}, {"rId4", "slide", "slides/slide3.xml"},
                        {"rId5", "theme", "theme/theme1.xml"}, {"rId6", "notesMaster", "notesMasters/notesMaster1.xml"}}));

    auto result = run({"ppt/slides/slide2.xml"});
    ASSERT_TRUE(result.ok()) << failure_text(result);
    EXPECT_EQ(result->deleted_slide_parts, std::vector<std::string>{"ppt/slides/slide2.xml"});
    EXPECT_EQ(result->deleted_relationship_ids, std::vector<std::string>{"rId3"});
    EXPECT_EQ(result->survivor_count, 2u);
    EXPECT_EQ(result->part_count, entries.size() - 4);
    EXPECT_EQ(removed_names(), (std::set<std::string>{"ppt/slides/slide2.xml", slide_rels(2),
                                                      "ppt/notesSlides/notesSlide2.xml",
                                                      "ppt/notesSlides/_rels/notesSlide2.xml.rels"}));
    const PackageContents after = read_package(output());
    EXPECT_EQ(after.at("[Content_Types].xml").find("/ppt/slides/slide2.xml"), std::string::npos);
    EXPECT_EQ(after.at("[Content_Types].xml").find("notesSlide2.xml"), std::string::npos);
    EXPECT_NE(after.at("[Content_Types].xml").find("notesSlide3.xml"), std::string::npos);
    EXPECT_EQ(after.at("ppt/presentation.xml"),
              presentation_xml("<p:sldIdLst><p:sldId id=\"256\" r:id=\"rId2\"/><p:sldId id=\"258\" r:id=\"rId4\"/>"
                               "</p:sldIdLst>"));
    EXPECT_EQ(after.at("ppt/_rels/presentation.xml.rels").find("rId3"), std::string::npos);
}

TEST_F(SlideDelete, PicturesGoOnlyWhenNoKeptPartUsesThem) {
    entries.push_back({"ppt/media/shared.png", "png-1", zip_method_stored});
    entries.push_back({"ppt/media/image1.png", "png-2", zip_method_stored});
    entries.push_back({"ppt/media/internal.png", "png-3", zip_method_stored});
    entries.push_back({"ppt/media/external.png", "png-4", zip_method_stored});
    set_entry(entries, slide_rels(1),
              rels_xml({{"rId1", "slideLayout", "../slideLayouts/slideLayout1.xml"},
                        {"rId2", "image", "../media/shared.png"},
                        {"rId3", "image", "../media/image1.png"},
                        {"rId4", "image", "../media/internal.png", "Internal"},
                        {"rId5", "image", "../media/external.png", "EXTERNAL"}}));
    set_entry(entries, slide_rels(2),
              rels_xml({{"rId1", "slideLayout", "../slideLayouts/slideLayout1.xml"},
                        {"rId2", "image", "/ppt/media/shared.png"},
                        // part names compare without case
                        {"rId3", "image", "../media/Image1.png"}}));
    ASSERT_TRUE(run({"ppt/slides/slide1.xml"}).ok());
    // "Internal" is followed like no mode at all; an "EXTERNAL" link is not
    EXPECT_EQ(removed_names(),
              (std::set<std::string>{"ppt/slides/slide1.xml", slide_rels(1), "ppt/media/internal.png"}));
}

TEST_F(SlideDelete, SectionEntriesGoAndSurvivorsTakeTheGivenOrder) {
    const std::string sections =
        "<p:extLst><p:ext uri=\"{521415D9-36F7-43E2-AB2F-B90AF26B5E84}\"><p14:sectionLst xmlns:p14=\"urn:p14\">"
        "<p14:section name=\"A\" id=\"{1}\"><p14:sldIdLst><p14:sldId id=\"256\"/><p14:sldId id=\"257\"/>"
        "</p14:sldIdLst></p14:section><p14:section name=\"B\" id=\"{2}\"><p14:sldIdLst><p14:sldId id=\"258\"/>"
        "</p14:sldIdLst></p14:section></p14:sectionLst></p:ext></p:extLst>";
    set_entry(entries, "ppt/presentation.xml", presentation_xml(slide_list_xml(3), sections));
    auto result = run({"ppt/slides/slide2.xml"}, std::vector<std::string>{"ppt/slides/slide3.xml", "ppt/slides/slide1.xml"});
    ASSERT_TRUE(result.ok()) << failure_text(result);
    std::string expected_sections = sections;
    expected_sections.erase(expected_sections.find("<p14:sldId id=\"257\"/>"), 21);
    EXPECT_EQ(read_package(output()).at("ppt/presentation.xml"),
              presentation_xml("<p:sldIdLst><p:sldId id=\"258\" r:id=\"rId4\"/><p:sldId id=\"256\" r:id=\"rId2\"/>"
                               "</p:sldIdLst>",
                               expected_sections));
}

TEST_F(SlideDelete, KeptPartsLoseTheirReferencesToRemovedParts) {
    const std::string link = "<a:hlinkClick r:id=\"rId2\" action=\"ppaction://hlinksldjump\"/>";
    const std::string shape = "<p:sp><p:nvSpPr><p:cNvPr id=\"2\" name=\"Go\">" + link +
                              "</p:cNvPr><p:cNvSpPr/><p:nvPr/></p:nvSpPr><p:spPr/></p:sp>";
    set_entry(entries, "ppt/slides/slide1.xml", slide_xml(shape));
    set_entry(entries, slide_rels(1),
              rels_xml({{"rId1", "slideLayout", "../slideLayouts/slideLayout1.xml"}, {"rId2", "slide", "slide2.xml"}}));
    const std::string custom_shows =
        "<p:custShowLst><p:custShow name=\"S\" id=\"0\"><p:sldLst><p:sld r:id=\"rId3\"/><p:sld r:id=\"rId4\"/>"
        "</p:sldLst></p:custShow></p:custShowLst>";
    set_entry(entries, "ppt/presentation.xml", presentation_xml(slide_list_xml(3), custom_shows));
    entries.push_back({"ppt/viewProps.xml", "<p:viewPr " + root_ns +
                                                "><p:outlineViewPr><p:sldLst><p:sld r:id=\"rId1\"/>"
                                                "<p:sld r:id=\"rId2\"/></p:sldLst></p:outlineViewPr></p:viewPr>"});
    entries.push_back({"ppt/_rels/viewProps.xml.rels",
                       rels_xml({{"rId1", "slide", "slides/slide1.xml"}, {"rId2", "slide", "slides/slide2.xml"}})});
    // viewProps.xml is reached from the presentation
    set_entry(entries, "ppt/_rels/presentation.xml.rels",
              rels_xml({{"rId1", "slideMaster", "slideMasters/slideMaster1.xml"}, {"rId2", "slide", "slides/slide1.xml"},
                        {"rId3", "slide", "slides/slide2.xml"}, {"rId4", "slide", "slides/slide3.xml"},
                        {"rId5", "theme", "theme/theme1.xml"}, {"rId6", "viewProps", "viewProps.xml"}}));

    ASSERT_TRUE(run({"ppt/slides/slide2.xml"}).ok());
    const PackageContents after = read_package(output());
    EXPECT_EQ(after.at("ppt/slides/slide1.xml"),
              slide_xml("<p:sp><p:nvSpPr><p:cNvPr id=\"2\" name=\"Go\"></p:cNvPr><p:cNvSpPr/><p:nvPr/></p:nvSpPr>"
                        "<p:spPr/></p:sp>"));
    EXPECT_EQ(after.at(slide_rels(1)), rels_xml({{"rId1", "slideLayout", "../slideLayouts/slideLayout1.xml"}}));
    EXPECT_NE(after.at("ppt/presentation.xml")
                  .find("<p:custShow name=\"S\" id=\"0\"><p:sldLst><p:sld r:id=\"rId4\"/></p:sldLst>"),
              std::string::npos);
    EXPECT_EQ(after.at("ppt/viewProps.xml"), "<p:viewPr " + root_ns +
                                                 "><p:outlineViewPr><p:sldLst><p:sld r:id=\"rId1\"/>"
                                                 "</p:sldLst></p:outlineViewPr></p:viewPr>");
    EXPECT_EQ(after.at("ppt/_rels/viewProps.xml.rels"), rels_xml({{"rId1", "slide", "slides/slide1.xml"}}));
}

TEST_F(SlideDelete, RelationshipPartsThatDoNotParse) {
    // a kept slide's relationships cannot be read: it may use what would go
    set_entry(entries, slide_rels(3), "<Relationships><Relationship Id=\"rId1\"></Relationships>");
    EXPECT_EQ(failure_text(run({"ppt/slides/slide1.xml"})),
              "xml error: mismatched end tag: expected </Relationship>, found </Relationships> at offset 39");
    EXPECT_FALSE(std::filesystem::exists(output()));
    // the deleted slide's own part does not matter: it goes anyway
    entries = deck_entries(3);
    set_entry(entries, slide_rels(1), "<Relationships><Relationship Id=\"rId1\"></Relationships>");
    ASSERT_TRUE(run({"ppt/slides/slide1.xml"}).ok());
    EXPECT_EQ(removed_names(), (std::set<std::string>{"ppt/slides/slide1.xml", slide_rels(1)}));
}

TEST_F(SlideDelete, RequestErrors) {
    // the presentation also links a slide part that does not exist
    set_entry(entries, "ppt/_rels/presentation.xml.rels",
              rels_xml({{"rId1", "slideMaster", "slideMasters/slideMaster1.xml"}, {"rId2", "slide", "slides/slide1.xml"},
                        {"rId3", "slide", "slides/slide2.xml"}, {"rId4", "slide", "slides/slide3.xml"},
                        {"rId9", "slide", "slides/slide9.xml"}}));
    const std::string s1 = "ppt/slides/slide1.xml", s2 = "ppt/slides/slide2.xml", s3 = "ppt/slides/slide3.xml";
    struct Case {
        std::vector<std::string> targets;
        std::optional<std::vector<std::string>> survivors;
        std::string error;
    };
    const Case cases[] = {
        {{}, std::nullopt, "invalid input: no target slide parts specified for deletion"},
        {{s1, s1}, std::nullopt, "invalid input: duplicate target slide part specified for deletion: " + s1},
        {{"ppt/slides/slide9.xml"}, std::nullopt,
         "invalid input: target slide part ppt/slides/slide9.xml was not found in the presentation"},
        {{s1, s2, s3}, std::nullopt,
         "invalid input: cannot delete all slides; presentation must contain at least one slide"},
        {{s2}, std::vector<std::string>{s1},
         "invalid input: ordered survivor parts count (1) does not match surviving slides count (2)"},
        {{s2}, std::vector<std::string>{s1, s1}, "invalid input: duplicate survivor slide part in ordered survivors: " + s1},
        {{s2}, std::vector<std::string>{s2, s1},
         "invalid input: deleted slide part " + s2 + " cannot be included in ordered survivors"},
        // slide9 has a presentation relationship but is no surviving slide
        {{s2}, std::vector<std::string>{s1, "ppt/slides/slide9.xml"},
         "invalid input: survivor slide part ppt/slides/slide9.xml was not found in the presentation"},
    };
    for (const Case& c : cases) EXPECT_EQ(failure_text(run(c.targets, c.survivors)), c.error);

    set_entry(entries, "ppt/_rels/presentation.xml.rels",
              rels_xml({{"rId2", "slide", "slides/slide1.xml"}, {"rId3", "slide", "slides/slide2.xml"}}));
    EXPECT_EQ(failure_text(run({s3})),
              "invalid input: presentation relationship for slide part " + s3 + " was not found");
    EXPECT_FALSE(std::filesystem::exists(output()));
}

TEST_F(SlideDelete, SummaryListsAreSortedAsText) {
    entries = deck_entries(11);
    auto result = run({"ppt/slides/slide9.xml", "ppt/slides/slide1.xml", "ppt/slides/slide10.xml"});
    ASSERT_TRUE(result.ok()) << failure_text(result);
    EXPECT_EQ(result->deleted_slide_parts, (std::vector<std::string>{"ppt/slides/slide1.xml", "ppt/slides/slide10.xml",
                                                                     "ppt/slides/slide9.xml"}));
    EXPECT_EQ(result->deleted_relationship_ids, (std::vector<std::string>{"rId10", "rId11", "rId2"}));
    EXPECT_EQ(result->survivor_count, 8u);
}

// Every kept file entry gets the 1980-01-01 timestamp and keeps its method and
// its compressed bytes; a directory entry becomes an empty entry.
TEST_F(SlideDelete, DeleteModeRestampsWithoutRecompressing) {
    entries.insert(entries.begin() + 1, {"ppt/media/", ""});
    entries.push_back({"ppt/media/stored.png", std::string(3000, 'x'), zip_method_stored});
    entries.push_back({"docProps/app.xml", std::string(5000, 'y')});
    ASSERT_TRUE(run({"ppt/slides/slide3.xml"}).ok());
    const PackageContents before = read_package(temp.file("in.pptx"));
    const PackageContents after = read_package(output());
    ASSERT_EQ(after.names.size(), before.names.size() - 2);
    for (std::size_t i = 0, j = 0; i < before.names.size(); ++i) {
        if (!after.has(before.names[i])) continue;
        const ZipEntry& old_entry = before.entries[i];
        const ZipEntry& new_entry = after.entries[j++];
        ASSERT_EQ(new_entry.name, old_entry.name);
        EXPECT_EQ(new_entry.dos_date, 0x0021) << new_entry.name;
        EXPECT_EQ(new_entry.dos_time, 0x0000) << new_entry.name;
        EXPECT_EQ(new_entry.method, old_entry.method) << new_entry.name;
        if (new_entry.name == "ppt/media/") {
            EXPECT_EQ(new_entry.uncompressed_size, 0u);
            continue;
        }
        const bool rewritten = new_entry.name == "ppt/presentation.xml" || new_entry.name == "[Content_Types].xml" ||
                               new_entry.name == "ppt/_rels/presentation.xml.rels";
        if (rewritten) continue;
        EXPECT_EQ(new_entry.crc32, old_entry.crc32) << new_entry.name;
        EXPECT_EQ(new_entry.compressed_size, old_entry.compressed_size) << new_entry.name;
        EXPECT_EQ(after.at(new_entry.name), before.at(old_entry.name));
    }
}

TEST_F(SlideDelete, CorruptEntryFailsAndLeavesTheOutputAlone) {
    entries.push_back({"docProps/app.xml", "abcdef", zip_method_stored});
    const std::string in = input();
    std::string bytes = read_file(in);
    bytes[bytes.find("abcdef")] = 'X';  // the CRC no longer matches
    write_file(in, bytes);
    write_file(output(), "previous");
    const std::vector<std::string> targets{"ppt/slides/slide1.xml"};
    EXPECT_EQ(failure_text(delete_slides(in, output(), targets, std::nullopt)),
              "io error: crc mismatch in entry docProps/app.xml");
    EXPECT_EQ(read_file(output()), "previous");
}

}  // namespace
}  // namespace zandrel::testing
