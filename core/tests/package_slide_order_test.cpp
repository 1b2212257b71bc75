#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "damaged_archive.hpp"
#include "package_reader.hpp"
#include "package_slide_order.hpp"
#include "test_support.hpp"

namespace zandrel {
namespace {

using testing::TempDir;
using testing::TestEntry;

constexpr auto none = std::nullopt;
const std::string slide_type = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/slide";

// ---- names -----------------------------------------------------------------

TEST(SlideOrderNames, SlideAndLayoutPartTests) {
    const std::tuple<std::string, bool, bool> cases[] = {
        {"ppt/slides/slide1.xml", true, false},
        {"ppt/slides/slide007.xml", true, false},
        {"ppt/slides/slide.xml", false, false},
        {"ppt/slides/slide1a.xml", false, false},
        {"ppt/slides/slide+1.xml", false, false},
        {"ppt/slides/_rels/slide1.xml.rels", false, false},
        {"ppt/slides/slide1.xml.bak", false, false},
        {"ppt/Slides/slide1.xml", false, false},
        {"/ppt/slides/slide1.xml", false, false},
        {"ppt/slideLayouts/slideLayout11.xml", false, true},
        {"ppt/slideLayouts/slideLayout.xml", false, false},
        {"ppt/slideLayouts/_rels/slideLayout1.xml.rels", false, false},
    };
    for (const auto& [name, slide, layout] : cases) {
        EXPECT_EQ(is_slide_part(name), slide) << name;
        EXPECT_EQ(is_slide_layout_part(name), layout) << name;
    }
}

TEST(SlideOrderNames, SlideNumbers) {
    const std::pair<std::string, std::optional<std::uint64_t>> cases[] = {
        {"ppt/slides/slide007.xml", 7},
        {"ppt/slides/slide12.xml", 12},
        {"ppt/slides/slide+3.xml", 3},
        {"ppt/slides/slide18446744073709551615.xml", UINT64_MAX},
        {"ppt/slides/slide18446744073709551616.xml", none},
        {"ppt/slides/slide.xml", none},
        {"ppt/slides/slide-1.xml", none},
        {"ppt/slides/slide+.xml", none},
        {"ppt/slides/slide1a.xml", none},
        {"ppt/slideLayouts/slideLayout1.xml", none},
        {"ppt/slides/slide.xm", none},
    };
    for (const auto& [name, expected] : cases) EXPECT_EQ(slide_number(name), expected) << name;
}

TEST(SlideOrderNaturalKey, SplitsDigitRunsFromText) {
    EXPECT_EQ(natural_key("slide10.xml"), (NaturalKey{std::string("slide"), std::uint64_t{10}, std::string(".xml")}));
    EXPECT_EQ(natural_key("12ab"), (NaturalKey{std::uint64_t{12}, std::string("ab")}));
    EXPECT_EQ(natural_key("\xC3\xA9" "3"), (NaturalKey{std::string("\xC3\xA9"), std::uint64_t{3}}));
    EXPECT_EQ(natural_key("x99999999999999999999"), (NaturalKey{std::string("x"), std::uint64_t{0}}));
    EXPECT_TRUE(natural_key("").empty());
    // ordering rules
    EXPECT_LT(natural_key("slide2.xml"), natural_key("slide10.xml"));
    EXPECT_LT(natural_key("a"), natural_key("1"));       // text before numbers
    EXPECT_LT(natural_key("ab"), natural_key("ab1"));    // a proper prefix first
    EXPECT_LT(natural_key("Z1"), natural_key("a1"));     // bytes: upper case first
    EXPECT_EQ(natural_key("slide02.xml"), natural_key("slide2.xml"));
}

// ---- slide ids of the presentation -----------------------------------------

TEST(SlideOrderPresentationIds, EveryPrefixedIdOfEverySldIdInOrder) {
    const std::string presentation =
        "<p:presentation xmlns:p=\"p\" xmlns:r=\"r\"><p:sldIdLst>"
        "<p:sldId id=\"257\" r:id=\"rId3\"/><p:sldId r:id=\"rId&amp;2\" id=\"256\"></p:sldId>"
        "<sldId x:id=\"rId9\" y:id=\"rId10\"/><p:sldId id=\"258\"/><p:sldId r:id=\"&bad;\"/>"
        "</p:sldIdLst><p:extLst><p:ext><p14:sectionLst><p14:section><p14:sldIdLst>"
        "<p14:sldId id=\"257\"/></p14:sldIdLst></p14:section></p14:sectionLst></p:ext></p:extLst></p:presentation>";
    auto ids = slide_relationship_ids_in_presentation(presentation);
    ASSERT_TRUE(ids.ok()) << ids.error().display();
    EXPECT_EQ(*ids, (std::vector<std::string>{"rId3", "rId&2", "rId9", "rId10", ""}));

    auto malformed = slide_relationship_ids_in_presentation("<p:presentation><p:sldIdLst></p:presentation>");
    ASSERT_FALSE(malformed.ok());
    EXPECT_EQ(malformed.error().kind, ErrorKind::Xml);
}

// ---- slide_parts on small packages -----------------------------------------

std::string presentation_listing(const std::vector<std::string>& relationship_ids) {
    std::string xml = "<?xml version=\"1.0\"?><p:presentation xmlns:p=\"p\" xmlns:r=\"r\"><p:sldIdLst>";
    std::uint64_t id = 256;
    for (const auto& rid : relationship_ids)
        xml += "<p:sldId id=\"" + std::to_string(id++) + "\" r:id=\"" + rid + "\"/>";
    return xml + "</p:sldIdLst></p:presentation>";
}

std::string presentation_relationships(const std::vector<std::pair<std::string, std::string>>& slides) {
    std::string xml = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                      "<Relationship Id=\"rId1\" Type=\"http://x/slideLayout\" Target=\"slides/slide9.xml\"/>";
    for (const auto& [id, target] : slides)
        xml += "<Relationship Id=\"" + id + "\" Type=\"" + slide_type + "\" Target=\"" + target + "\"/>";
    return xml + "</Relationships>";
}

std::vector<TestEntry> slides_named(const std::vector<std::string>& numbers) {
    std::vector<TestEntry> entries;
    for (const auto& n : numbers) entries.push_back({"ppt/slides/slide" + n + ".xml", "<p:sld/>"});
    return entries;
}

struct Deck {
    TempDir dir;
    std::string path = dir.file("deck.pptx");

    explicit Deck(std::vector<TestEntry> entries) { testing::write_test_archive(path, entries); }

    Result<std::vector<std::string>> slides() const {
        auto archive = open_package(path);
        if (!archive) return archive.error();
        return slide_parts(*archive);
    }
};

std::vector<std::string> slide_names(const std::vector<std::string>& numbers) {
    std::vector<std::string> names;
    for (const auto& n : numbers) names.push_back("ppt/slides/slide" + n + ".xml");
    return names;
}

TEST(SlideOrderSlideParts, NaturalOrderWithoutAPresentation) {
    Deck deck(slides_named({"10", "2", "1", "02"}));
    auto slides = deck.slides();
    ASSERT_TRUE(slides.ok()) << slides.error().display();
    // slide2 and slide02 have equal keys and keep their archive order
    EXPECT_EQ(*slides, slide_names({"1", "2", "02", "10"}));
}

std::vector<TestEntry> with_presentation(std::vector<TestEntry> entries, const std::vector<std::string>& listed,
                                         const std::vector<std::pair<std::string, std::string>>& relationships) {
    entries.push_back({"ppt/presentation.xml", presentation_listing(listed)});
    entries.push_back({"ppt/_rels/presentation.xml.rels", presentation_relationships(relationships)});
    return entries;
}

TEST(SlideOrderSlideParts, PresentationOrderOnlyWhenConsistent) {
    const std::vector<std::pair<std::string, std::string>> three = {
        {"rId2", "slides/slide1.xml"}, {"rId3", "slides/slide2.xml"}, {"rId4", "/ppt/slides/slide3.xml"}};
    struct Case {
        std::string what;
        std::vector<std::string> slides;
        std::vector<std::string> listed;
        std::vector<std::pair<std::string, std::string>> relationships;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"listed order", {"1", "2", "3"}, {"rId4", "rId2", "rId3"}, three, {"3", "1", "2"}},
        {"a slide part the list does not name", {"1", "2", "3", "4"}, {"rId4", "rId2", "rId3"}, three, {"1", "2", "3", "4"}},
        {"a slide listed twice", {"1", "2", "3"}, {"rId4", "rId2", "rId4"}, three, {"1", "2", "3"}},
        {"an unknown id is skipped, then too few", {"1", "2", "3"}, {"rId4", "rId9", "rId3"}, three, {"1", "2", "3"}},
        {"a dangling target", {"1", "2"}, {"rId2", "rId5"}, {{"rId2", "slides/slide2.xml"}, {"rId5", "slides/slide8.xml"}}, {"1", "2"}},
        {"later duplicate relationship wins", {"1", "2"}, {"rId2", "rId3"},
         {{"rId2", "slides/slide1.xml"}, {"rId3", "slides/slide1.xml"}, {"rId2", "slides/slide2.xml"}}, {"2", "1"}},
        {"non-slide types are not slides", {"9"}, {"rId1"}, {}, {"9"}},
    };
    for (const auto& c : cases) {
        Deck deck(with_presentation(slides_named(c.slides), c.listed, c.relationships));
        auto slides = deck.slides();
        ASSERT_TRUE(slides.ok()) << c.what << ": " << slides.error().display();
        EXPECT_EQ(*slides, slide_names(c.expected)) << c.what;
    }
}

TEST(SlideOrderSlideParts, IndexLookup) {
    Deck deck(with_presentation(slides_named({"1", "2"}), {"rId3", "rId2"},
                                {{"rId2", "slides/slide1.xml"}, {"rId3", "slides/slide2.xml"}}));
    auto archive = open_package(deck.path);
    ASSERT_TRUE(archive.ok());
    const std::pair<std::uint64_t, std::optional<std::string>> cases[] = {
        {0, "ppt/slides/slide2.xml"}, {1, "ppt/slides/slide1.xml"}, {2, none}, {UINT64_MAX, none}};
    for (const auto& [index, expected] : cases) {
        auto slide = slide_part_at_index(*archive, index);
        ASSERT_TRUE(slide.ok());
        EXPECT_EQ(*slide, expected) << index;
    }
}

TEST(SlideOrderSlideParts, Errors) {
    {
        // any entry that cannot be opened
        Deck deck(slides_named({"1", "2"}));
        testing::damage_local_header(deck.path, "ppt/slides/slide2.xml");
        auto slides = deck.slides();
        ASSERT_FALSE(slides.ok());
        EXPECT_EQ(slides.error().display(), "zip error: invalid local header of entry ppt/slides/slide2.xml");
    }
    {
        // a presentation part that exists but cannot be opened does not fall back
        Deck deck(with_presentation(slides_named({"1"}), {"rId2"}, {{"rId2", "slides/slide1.xml"}}));
        testing::damage_local_header(deck.path, "ppt/presentation.xml");
        auto archive = open_package(deck.path);
        ASSERT_TRUE(archive.ok());
        auto slides = slide_part_at_index(*archive, 0);
        ASSERT_FALSE(slides.ok());
        EXPECT_EQ(slides.error().display(), "zip error: invalid local header of entry ppt/presentation.xml");
    }
    {
        auto entries = slides_named({"1"});
        entries.push_back({"ppt/presentation.xml", "<p:presentation><p:sldIdLst></p:presentation>"});
        Deck deck(entries);
        auto slides = deck.slides();
        ASSERT_FALSE(slides.ok());
        EXPECT_EQ(slides.error().kind, ErrorKind::Xml);
    }
    {
        auto entries = slides_named({"1"});
        entries.push_back({"ppt/presentation.xml", "<p:presentation>\xFF</p:presentation>"});
        Deck deck(entries);
        auto slides = deck.slides();
        ASSERT_FALSE(slides.ok());
        EXPECT_EQ(slides.error().display(), "io error: stream did not contain valid UTF-8");
    }
}

// ---- the corpus ------------------------------------------------------------

// file (relative to the corpus folder) -> slide count, from MANIFEST.tsv
std::map<std::string, std::size_t> manifest_slide_counts() {
    std::ifstream manifest(testing::corpus_dir / "MANIFEST.tsv");
    std::map<std::string, std::size_t> counts;
    std::string line;
    std::getline(manifest, line);  // header
    while (std::getline(manifest, line)) {
        std::vector<std::string> columns;
        std::stringstream row(line);
        for (std::string column; std::getline(row, column, '\t');) columns.push_back(column);
        if (columns.size() > 5 && !columns[0].starts_with("malformed/")) counts[columns[0]] = std::stoul(columns[5]);
    }
    return counts;
}

TEST(SlideOrderCorpus, SlideCountsMatchTheManifest) {
    ZANDREL_REQUIRE_CORPUS();
    auto counts = manifest_slide_counts();
    ASSERT_EQ(counts.size(), 80u);
    for (const auto& [file, expected] : counts) {
        auto archive = open_package((testing::corpus_dir / file).string());
        ASSERT_TRUE(archive.ok()) << file << ": " << archive.error().display();
        auto slides = slide_parts(*archive);
        ASSERT_TRUE(slides.ok()) << file << ": " << slides.error().display();
        EXPECT_EQ(slides->size(), expected) << file;
        std::set<std::string> distinct(slides->begin(), slides->end());
        EXPECT_EQ(distinct.size(), slides->size()) << file;
        for (const auto& slide : *slides) EXPECT_TRUE(archive->find(slide).has_value()) << file << " " << slide;
    }
}

TEST(SlideOrderCorpus, TheSlideGapDeckFollowsThePresentation) {
    ZANDREL_REQUIRE_CORPUS();
    auto archive = open_package((testing::corpus_dir / "derived/derived__slidegap__docling__powerpoint_sample.pptx").string());
    ASSERT_TRUE(archive.ok());
    auto slides = slide_parts(*archive);
    ASSERT_TRUE(slides.ok()) << slides.error().display();
    EXPECT_EQ(*slides, slide_names({"1", "7", "3"}));  // natural order would be 1, 3, 7
}

}  // namespace
}  // namespace zandrel
