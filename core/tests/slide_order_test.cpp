// The slide list: reordering, new slide ids, appending an entry, and the
// section lists that reuse the slide list's element names.
#include <gtest/gtest.h>

#include "package_mutation_slide_order.hpp"
#include "slide_test_deck.hpp"

namespace zandrel::testing {
namespace {

const std::string entry_a = "<p:sldId id=\"256\" r:id=\"rId2\"/>";
const std::string entry_b = "<p:sldId id=\"257\" r:id=\"rId3\"/>";
const std::string entry_c = "<p:sldId id=\"258\" r:id=\"rId4\"><p:extLst><p:ext uri=\"x\"/></p:extLst></p:sldId>";

// PowerPoint's section list, in the extension list after the slide list.
std::string sections(std::string_view first, std::string_view second) {
    return "<p:extLst><p:ext uri=\"{521415D9-36F7-43E2-AB2F-B90AF26B5E84}\">"
           "<p14:sectionLst xmlns:p14=\"http://schemas.microsoft.com/office/powerpoint/2010/main\">"
           "<p14:section name=\"One\" id=\"{1}\"><p14:sldIdLst>" +
           std::string(first) +
           "</p14:sldIdLst></p14:section>"
           "<p14:section name=\"Two\" id=\"{2}\"><p14:sldIdLst>" +
           std::string(second) + "</p14:sldIdLst></p14:section></p14:sectionLst></p:ext></p:extLst>";
}

const std::string section_a_b = "<p14:sldId id=\"256\"/><p14:sldId id=\"257\"/>";
const std::string section_c = "<p14:sldId id=\"258\"/>";

TEST(SlideList, ReorderMovesWholeEntriesAndReportsChange) {
    const std::string xml = presentation_xml("<p:sldIdLst>" + entry_a + entry_b + entry_c + "</p:sldIdLst>");
    const std::uint64_t order[] = {2, 0, 1};
    auto result = reorder_slide_ids(xml, order);
    ASSERT_TRUE(result.ok()) << failure_text(result);
    EXPECT_TRUE(result->changed);
    EXPECT_EQ(result->presentation_xml,
              presentation_xml("<p:sldIdLst>" + entry_c + entry_a + entry_b + "</p:sldIdLst>"));
}

TEST(SlideList, IdentityReturnsTheInputBytes) {
    const std::string xml = presentation_xml("<p:sldIdLst>\n  " + entry_a + "\n  " + entry_b + "\n</p:sldIdLst >");
    const std::uint64_t order[] = {0, 1};
    auto result = reorder_slide_ids(xml, order);
    ASSERT_TRUE(result.ok()) << failure_text(result);
    EXPECT_FALSE(result->changed);
    EXPECT_EQ(result->presentation_xml, xml);
}

TEST(SlideList, TextBetweenEntriesStaysFirstAndEntriesArePacked) {
    const std::string xml = presentation_xml("<p:sldIdLst>\n  " + entry_a + "\n  " + entry_b + "\n</p:sldIdLst>");
    const std::uint64_t order[] = {1, 0};
    auto result = reorder_slide_ids(xml, order);
    ASSERT_TRUE(result.ok()) << failure_text(result);
    EXPECT_EQ(result->presentation_xml,
              presentation_xml("<p:sldIdLst>\n  \n  \n" + entry_b + entry_a + "</p:sldIdLst>"));
}

// Section lists are not the slide list: they stay as they are, whatever order
// the slide list takes, and a part that has only them has no slide list.
TEST(SlideList, SectionListsAreNeitherTakenNorTouched) {
    const std::string slide_list = "<p:sldIdLst>" + entry_a + entry_b + entry_c + "</p:sldIdLst>";
    const std::string xml = presentation_xml(slide_list, sections(section_a_b, section_c));
    const std::uint64_t order[] = {2, 1, 0};
    auto result = reorder_slide_ids(xml, order);
    ASSERT_TRUE(result.ok()) << failure_text(result);
    EXPECT_EQ(result->presentation_xml,
              presentation_xml("<p:sldIdLst>" + entry_c + entry_b + entry_a + "</p:sldIdLst>",
                               sections(section_a_b, section_c)));

    const std::uint64_t two[] = {1, 0};
    EXPECT_EQ(failure_text(reorder_slide_ids(presentation_xml("", sections(section_a_b, "")), two)),
              "xml text decode error: presentation has no slide id list");
}

TEST(SlideList, ReorderErrors) {
    const std::string three = presentation_xml("<p:sldIdLst>" + entry_a + entry_b + entry_c + "</p:sldIdLst>");
    struct Case {
        std::string xml;
        std::vector<std::uint64_t> order;
        std::string error;
    };
    const Case cases[] = {
        {three, {0, 0, 1}, "invalid input: slide order index 0 is duplicated"},
        {three, {0, 3, 1}, "invalid input: slide order index 3 was not found"},
        {three, {1, 0}, "invalid input: slide order has 2 entries for 3 slides"},
        {presentation_xml("<p:sldIdLst/>"), {}, "xml text decode error: presentation has no slide id list"},
        {xml_decl + "<p:presentation " + root_ns + "><p:sldIdLst><p:sldId id=\"256\">",
         {0},
         "xml text decode error: unexpected EOF while reading slide id"},
        {xml_decl + "<p:presentation " + root_ns + "><p:sldIdLst>" + entry_a + "</p:sldMasterIdLst>",
         {0},
         "xml error: mismatched end tag: expected </p:sldIdLst>, found </p:sldMasterIdLst> at offset 326"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(failure_text(reorder_slide_ids(c.xml, c.order)), c.error) << c.error;
}

TEST(SlideList, NextSlideId) {
    struct Case {
        std::string slide_list;
        std::uint64_t expected;
    };
    const Case cases[] = {
        {"<p:sldIdLst><p:sldId id=\"256\" r:id=\"rId2\"/><p:sldId id=\"257\" r:id=\"rId3\"/>"
         "<p:sldId id=\"300\" r:id=\"rId4\"/></p:sldIdLst>",
         301},
        {"", 256},
        {"<p:sldIdLst><p:sldId id=\"+512\" r:id=\"rId2\"/></p:sldIdLst>", 513},
        {"<p:sldIdLst><p:sldId id=\"-5\" r:id=\"rId900\"/></p:sldIdLst>", 256},
        // the largest id the schema allows is taken: the first free one from 256
        {"<p:sldIdLst><p:sldId id=\"256\" r:id=\"rId2\"/><p:sldId id=\"2147483647\" r:id=\"rId3\"/></p:sldIdLst>",
         257},
        {"<p:sldIdLst><p:sldId id=\"256\" r:id=\"rId2\"/><p:sldId id=\"257\" r:id=\"rId3\"/>"
         "<p:sldId id=\"9999999999\" r:id=\"rId4\"/></p:sldIdLst>",
         258},
    };
    for (const Case& c : cases) {
        auto id = next_slide_id(presentation_xml(c.slide_list));
        ASSERT_TRUE(id.ok()) << failure_text(id);
        EXPECT_EQ(*id, c.expected) << c.slide_list;
    }
    // ids of section entries count as used
    auto id = next_slide_id(presentation_xml("<p:sldIdLst>" + entry_a + "</p:sldIdLst>", sections(section_a_b, section_c)));
    EXPECT_EQ(*id, 259u);
}

TEST(SlideList, AppendSlideIdPlacesTheEntryWhereTheSchemaWantsIt) {
    const std::string entry = "<p:sldId id=\"300\" r:id=\"rId9\"/>";
    const std::string masters = "<p:sldMasterIdLst><p:sldMasterId id=\"2147483648\" r:id=\"rId1\"/></p:sldMasterIdLst>";
    const std::string notes = "<p:notesMasterIdLst><p:notesMasterId r:id=\"rId7\"/></p:notesMasterIdLst>";
    const std::string handout = "<p:handoutMasterIdLst><p:handoutMasterId r:id=\"rId8\"/></p:handoutMasterIdLst>";
    const std::string size = "<p:sldSz cx=\"1\" cy=\"1\"/>";
    auto presentation = [](std::string_view children) {
        return "<p:presentation " + root_ns + ">" + std::string(children) + "</p:presentation>";
    };
    struct Case {
        std::string before;
        std::string after;
    };
    const Case cases[] = {
        {presentation(masters + "<p:sldIdLst>" + entry_a + "</p:sldIdLst>" + size),
         presentation(masters + "<p:sldIdLst>" + entry_a + entry + "</p:sldIdLst>" + size)},
        {presentation(masters + "<p:sldIdLst/>" + size),
         presentation(masters + "<p:sldIdLst>" + entry + "</p:sldIdLst>" + size)},
        {presentation(masters + notes + handout + size),
         presentation(masters + notes + handout + "<p:sldIdLst>" + entry + "</p:sldIdLst>" + size)},
        {presentation(masters + notes + size),
         presentation(masters + notes + "<p:sldIdLst>" + entry + "</p:sldIdLst>" + size)},
        {presentation(size), presentation("<p:sldIdLst>" + entry + "</p:sldIdLst>" + size)},
        // a section list after the master lists is not the slide list
        {presentation(masters + size + sections(section_a_b, "")),
         presentation(masters + "<p:sldIdLst>" + entry + "</p:sldIdLst>" + size + sections(section_a_b, ""))},
    };
    for (const Case& c : cases) {
        auto result = append_slide_id(c.before, 300, "rId9");
        ASSERT_TRUE(result.ok()) << failure_text(result);
        EXPECT_EQ(*result, c.after);
    }
}

TEST(SlideList, AppendSlideIdUsesTheRootsPrefixes) {
    const std::string xml =
        "<pr:presentation xmlns:pr=\"http://schemas.openxmlformats.org/presentationml/2006/main\" "
        "xmlns:rel=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><pr:sldSz/></pr:presentation>";
    auto result = append_slide_id(xml, 256, "rId2");
    ASSERT_TRUE(result.ok()) << failure_text(result);
    EXPECT_NE(result->find("<pr:sldIdLst><pr:sldId id=\"256\" rel:id=\"rId2\"/></pr:sldIdLst><pr:sldSz/>"),
              std::string::npos)
        << *result;
    EXPECT_EQ(failure_text(append_slide_id(xml_decl + "<p:presentation/>", 256, "rId2")),
              "xml text decode error: expected closing marker </p:presentation>");
}

}  // namespace
}  // namespace zandrel::testing
