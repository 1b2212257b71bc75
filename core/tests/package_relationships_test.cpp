#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "damaged_archive.hpp"
#include "package_reader.hpp"
#include "package_relationships.hpp"
#include "test_support.hpp"

namespace zandrel {
namespace {

using testing::TempDir;

const std::string rels_head =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
const std::string rels_tail = "</Relationships>";
const std::string image_type = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/image";
const std::string layout_type = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/slideLayout";

std::string rels(const std::string& body) { return rels_head + body + rels_tail; }

std::string concat(std::initializer_list<std::string_view> pieces) {
    std::string out;
    for (auto piece : pieces) out.append(piece);
    return out;
}

std::string rel(const std::string& id, const std::string& target, const std::string& extra = "") {
    return "<Relationship Id=\"" + id + "\" Type=\"" + image_type + "\" Target=\"" + target + "\"" + extra + "/>";
}

std::vector<std::string> ids_of(const std::vector<RelationshipSummary>& relationships) {
    std::vector<std::string> ids;
    for (const auto& relationship : relationships) ids.push_back(relationship.id);
    return ids;
}

// ---- names and targets -----------------------------------------------------

TEST(RelationshipsPartName, SitsInTheSourceFoldersRelsFolder) {
    const std::pair<std::string, std::string> cases[] = {
        {"ppt/slides/slide1.xml", "ppt/slides/_rels/slide1.xml.rels"},
        {"ppt/presentation.xml", "ppt/_rels/presentation.xml.rels"},
        {"", "_rels/.rels"},
        {"document.xml", "_rels/document.xml.rels"},
    };
    for (const auto& [source, expected] : cases) EXPECT_EQ(relationship_part_name(source), expected) << source;
}

TEST(RelationshipsResolveTarget, WalksTheTargetFromTheSourceFolder) {
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"ppt/slides/slide1.xml", "../slideLayouts/slideLayout2.xml", "ppt/slideLayouts/slideLayout2.xml"},
        {"ppt/slides/slide1.xml", "/ppt/media/a.png", "ppt/media/a.png"},
        {"ppt/slides/slide1.xml", "../../../x.xml", "x.xml"},
        {"ppt/slides/slide1.xml", "./media//b.png", "ppt/slides/media/b.png"},
        {"ppt/presentation.xml", "slides/slide2.xml", "ppt/slides/slide2.xml"},
        {"", "ppt/presentation.xml", "ppt/presentation.xml"},
        {"ppt/slides/slide1.xml", "//x//y", "/x//y"},        // only one leading "/" goes
        {"ppt/slides/slide1.xml", "a%20b.png", "ppt/slides/a%20b.png"},  // no percent-decoding
        {"ppt/slides/slide1.xml", "NULL", "ppt/slides/NULL"},
    };
    for (const auto& [source, target, expected] : cases)
        EXPECT_EQ(resolve_target(source, target), expected) << source << " + " << target;
}

TEST(RelationshipsRelativeTarget, ClimbsOutOfTheSourceFolder) {
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"ppt/slides/slide3.xml", "ppt/media/image1.png", "../media/image1.png"},
        {"ppt/slides/slide3.xml", "ppt/slides/slide4.xml", "slide4.xml"},
        {"ppt/charts/chart2.xml", "ppt/embeddings/Book1.xlsx", "../embeddings/Book1.xlsx"},
        {"presentation.xml", "ppt/media/a.png", "ppt/media/a.png"},
        {"a/b/c/d.xml", "x.xml", "../../../x.xml"},
    };
    for (const auto& [source, target, expected] : cases) {
        EXPECT_EQ(make_relative_target(source, target), expected) << source << " -> " << target;
        EXPECT_EQ(resolve_target(source, make_relative_target(source, target)), target);
    }
}

// ---- parsing ---------------------------------------------------------------

TEST(RelationshipsParse, SortsByIdBytesThenTarget) {
    auto parsed = parse_relationships(rels(rel("rId2", "b") + rel("rId10", "c") + rel("rId1", "z") + rel("rId1", "a")));
    EXPECT_EQ(ids_of(parsed), (std::vector<std::string>{"rId1", "rId1", "rId10", "rId2"}));
    EXPECT_EQ(parsed[0].target, "a");
    EXPECT_EQ(parsed[1].target, "z");
    auto in_order = parse_relationships_in_document_order(rels(rel("rId2", "b") + rel("rId10", "c") + rel("rId1", "z")));
    EXPECT_EQ(ids_of(in_order), (std::vector<std::string>{"rId2", "rId10", "rId1"}));
}

TEST(RelationshipsParse, ReadsEveryRelationshipElementByLocalNames) {
    const std::string content = rels(
        "\n  <Relationship Id=\"rId1\" Type=\"t1\" Target=\"a.xml\"></Relationship>"
        "<x:Relationship x:Id=\"rId2\" Type=\"t2\" Target=\"http://e.com/?a=1&amp;b=&#x32;\" TargetMode=\"External\"/>"
        "<Group><Relationship Id=\"rId3\" Target='single' Other=\"o\"/></Group>"
        "<Relationship Id=\"rId4\" a:Id=\"rId5\" Target=\"&bogus;\" Type=\"\xFF\"/>"
        "<RelationshipX Id=\"rId9\"/>");
    auto parsed = parse_relationships_in_document_order(content);
    const std::vector<RelationshipSummary> expected = {
        {"rId1", "t1", "a.xml", std::nullopt},
        {"rId2", "t2", "http://e.com/?a=1&b=2", "External"},
        {"rId3", "", "single", std::nullopt},
        {"rId5", "", "", std::nullopt},  // a later Id wins; undecodable values read as ""
    };
    EXPECT_EQ(parsed, expected);
}

TEST(RelationshipsParse, LenientReaderKeepsWhatCameBeforeAFault) {
    const std::string broken = rels_head + rel("rId1", "a") + rel("rId2", "b") + "<Relationship Id=\"rId3\" </Oops>";
    EXPECT_EQ(ids_of(parse_relationships(broken)), (std::vector<std::string>{"rId1", "rId2"}));
    EXPECT_TRUE(parse_relationships("not xml at all <<<").empty());
    EXPECT_TRUE(parse_relationships("").empty());
}

TEST(RelationshipsParse, StrictReaderRefusesMalformedParts) {
    auto good = parse_relationships_strict(rels(rel("rId2", "b") + rel("rId1", "a")));
    ASSERT_TRUE(good.ok()) << good.error().display();
    EXPECT_EQ(ids_of(*good), (std::vector<std::string>{"rId2", "rId1"}));

    auto mismatched = parse_relationships_strict(rels_head + rel("rId1", "a") + "</Types>");
    ASSERT_FALSE(mismatched.ok());
    EXPECT_EQ(mismatched.error().kind, ErrorKind::Xml);
    EXPECT_NE(mismatched.error().detail.find("mismatched end tag"), std::string::npos) << mismatched.error().detail;

    auto truncated = parse_relationships_strict(rels_head + rel("rId1", "a"));
    ASSERT_FALSE(truncated.ok());
    EXPECT_EQ(truncated.error().display(), "xml error: relationship part ends inside an element");
}

TEST(RelationshipsJson, KeysInDeclarationOrderAndNullMode) {
    Json list = std::vector<RelationshipSummary>{{"rId1", "t", "a.png", std::nullopt}, {"rId2", "h", "http://x", "External"}};
    EXPECT_EQ(to_pretty_json(list),
              "[\n  {\n    \"id\": \"rId1\",\n    \"relationship_type\": \"t\",\n    \"target\": \"a.png\",\n"
              "    \"target_mode\": null\n  },\n  {\n    \"id\": \"rId2\",\n    \"relationship_type\": \"h\",\n"
              "    \"target\": \"http://x\",\n    \"target_mode\": \"External\"\n  }\n]");
}

// ---- new ids ---------------------------------------------------------------

TEST(RelationshipsNextId, OneMoreThanTheLargestNumericId) {
    const std::pair<std::string, std::string> cases[] = {
        {rels(rel("rId1", "a") + rel("rId2", "b") + rel("rId10", "c")), "rId11"},
        {rels(rel("rIdX", "a")), "rId1"},
        {empty_relationships_xml(), "rId1"},
        {rels(rel("rId1", "a") + rel("rId7", "b")), "rId8"},
        {rels(rel("rIdImage", "a") + rel("RID3", "b") + rel("rId", "c") + rel("rId-4", "d")), "rId1"},
        {rels(rel("rId+4", "a") + rel("rId003", "b")), "rId5"},
        {rels(rel("rId18446744073709551616", "a") + rel("rId2", "b")), "rId3"},  // too large: not a number
        {rels(rel("rId18446744073709551614", "a")), "rId18446744073709551615"},
    };
    for (const auto& [content, expected] : cases) {
        auto id = next_relationship_id(content);
        ASSERT_TRUE(id.ok()) << id.error().display();
        EXPECT_EQ(*id, expected) << content;
    }
}

TEST(RelationshipsNextId, RefusesOverflowAndDamagedParts) {
    auto overflow = next_relationship_id(rels(rel("rId18446744073709551615", "a")));
    ASSERT_FALSE(overflow.ok());
    EXPECT_EQ(overflow.error().display(), "invalid input: no relationship id is left after rId18446744073709551615");

    // The lenient reader would see only rId1 here and hand out rId2 again.
    auto damaged = next_relationship_id(rels_head + rel("rId1", "a") + "<Relationship Id=\"rId2\" <");
    ASSERT_FALSE(damaged.ok());
    EXPECT_EQ(damaged.error().kind, ErrorKind::Xml);
}

TEST(RelationshipsEventId, IdOfOneElementEvent) {
    XmlStreamReader reader("<Relationships><Relationship Id=\"rId&amp;1\" Target=\"x\"/><Relationship/></Relationships>");
    std::vector<std::string> ids;
    while (true) {
        auto event = reader.next();
        ASSERT_TRUE(event.ok());
        if (event->kind == XmlEventKind::EndOfInput) break;
        if (event->is_element_start() && event->name == "Relationship") ids.push_back(relationship_id(*event));
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"rId&1", ""}));
}

// ---- adding ----------------------------------------------------------------

TEST(RelationshipsAdd, EscapesValuesAndReadsBackTheSame) {
    const std::string target = "../media/a&b \"<x>\" it's.png";
    auto added = add_relationship(rels(rel("rId1", "a")), "rId2", image_type, target);
    ASSERT_TRUE(added.ok());
    EXPECT_EQ(*added, rels(rel("rId1", "a") + "<Relationship Id=\"rId2\" Type=\"" + image_type +
                           "\" Target=\"../media/a&amp;b &quot;&lt;x&gt;&quot; it's.png\"/>"));
    auto parsed = parse_relationships(*added);
    ASSERT_EQ(parsed.size(), 2u);
    EXPECT_EQ(parsed[1], (RelationshipSummary{"rId2", image_type, target, std::nullopt}));
}

TEST(RelationshipsAdd, GoesBeforeTheLastClosingTag) {
    auto added = add_relationship("<Relationships></Relationships><!-- </Relationships> -->", "rId1", "t", "x");
    ASSERT_TRUE(added.ok());
    EXPECT_EQ(*added, "<Relationships></Relationships><!-- <Relationship Id=\"rId1\" Type=\"t\" Target=\"x\"/></Relationships> -->");
}

TEST(RelationshipsAdd, MissingClosingTagErrorsDifferByFunction) {
    auto added = add_relationship("<Relationships>", "rId1", "t", "x");
    ASSERT_FALSE(added.ok());
    EXPECT_EQ(added.error().display(), "invalid input: relationships part is missing </Relationships>");
    auto appended = append_relationship("<Relationships>", "rId1", "t", "x");
    ASSERT_FALSE(appended.ok());
    EXPECT_EQ(appended.error().display(), "xml text decode error: expected closing marker </Relationships>");
}

TEST(RelationshipsAppend, WritesValuesAsGiven) {
    auto appended = append_relationship(empty_relationships_xml(), "rId1", layout_type, "../slideLayouts/slideLayout1.xml");
    ASSERT_TRUE(appended.ok());
    EXPECT_EQ(*appended, rels_head + "<Relationship Id=\"rId1\" Type=\"" + layout_type +
                             "\" Target=\"../slideLayouts/slideLayout1.xml\"/>" + rels_tail + "\n");
}

TEST(RelationshipsEmptyPart, Is157BytesWithNoRelationships) {
    const std::string empty = empty_relationships_xml();
    EXPECT_EQ(empty.size(), 157u);
    EXPECT_EQ(empty, rels_head + rels_tail + "\n");
    auto strict = parse_relationships_strict(empty);
    ASSERT_TRUE(strict.ok());
    EXPECT_TRUE(strict->empty());
}

// ---- removing --------------------------------------------------------------

TEST(RelationshipsRemove, DropsSelectedElementsAndKeepsTheRest) {
    const std::string content =
        rels(concat({"\n", rel("rId1", "a"), "\n<Relationship Id=\"rId2\" Target=\"b\"><Ext><x/></Ext></Relationship>\n",
                     rel("rId3", "c"), "\n<!-- note --><?pi x?>"}));
    const std::string ids[] = {"rId2", "rId3", "rId9"};
    auto removed = remove_relationships_by_id(content, ids);
    ASSERT_TRUE(removed.ok()) << removed.error().display();
    EXPECT_EQ(removed->removed, 2u);
    EXPECT_EQ(removed->content, rels(concat({"\n", rel("rId1", "a"), "\n\n\n<!-- note --><?pi x?>"})));
}

TEST(RelationshipsRemove, NothingToRemoveLeavesTheBytes) {
    const std::string content = rels(concat({"\n  ", rel("rId1", "a&amp;b"), "\n"}));
    const std::string absent[] = {"rId7"};
    auto untouched = remove_relationships_by_id(content, absent);
    ASSERT_TRUE(untouched.ok());
    EXPECT_EQ(untouched->removed, 0u);
    EXPECT_EQ(untouched->content, content);

    // an empty id set does not even parse the content
    auto verbatim = remove_relationships_by_id("<not xml", {});
    ASSERT_TRUE(verbatim.ok());
    EXPECT_EQ(verbatim->content, "<not xml");
    EXPECT_EQ(verbatim->removed, 0u);
}

TEST(RelationshipsRemove, Errors) {
    const std::string ids[] = {"rId1"};
    auto truncated = remove_relationships_by_id(rels_head + "<Relationship Id=\"rId1\"><Ext>", ids);
    ASSERT_FALSE(truncated.ok());
    EXPECT_EQ(truncated.error().display(), "xml text decode error: unexpected EOF while removing relationship");
    auto malformed = remove_relationships_by_id(rels_head + rel("rId2", "a") + "</Types>", ids);
    ASSERT_FALSE(malformed.ok());
    EXPECT_EQ(malformed.error().kind, ErrorKind::Xml);
}

TEST(RelationshipsByType, CopiesMatchingSuffixesInListOrder) {
    const std::vector<RelationshipSummary> all = {
        {"rId1", layout_type, "l", std::nullopt},
        {"rId2", image_type, "i", std::nullopt},
        {"rId3", "http://x/video", "v", std::nullopt},
        {"rId4", "http://x/imageX", "n", std::nullopt},
    };
    const std::string_view suffixes[] = {"/video", "/image"};
    EXPECT_EQ(ids_of(relationships_by_type(all, suffixes)), (std::vector<std::string>{"rId2", "rId3"}));
    EXPECT_TRUE(relationships_by_type(all, {}).empty());
}

// ---- reading from a package ------------------------------------------------

TEST(RelationshipsRead, FromAPackageLenientAndStrict) {
    TempDir dir;
    const std::string path = dir.file("deck.pptx");
    testing::write_test_archive(path, {
        {"ppt/slides/slide1.xml", "<p:sld/>"},
        {"ppt/slides/_rels/slide1.xml.rels", rels(rel("rId2", "b") + rel("rId1", "a"))},
        {"ppt/slides/slide2.xml", "<p:sld/>"},
        {"ppt/slides/_rels/slide2.xml.rels", rels_head + rel("rId1", "a") + "<oops"},
        {"ppt/slides/_rels/slide3.xml.rels", rels(rel("rId5", "e"))},
    });
    testing::damage_local_header(path, "ppt/slides/_rels/slide3.xml.rels");
    auto archive = open_package(path);
    ASSERT_TRUE(archive.ok());

    auto sorted = read_relationships(*archive, "ppt/slides/slide1.xml");
    ASSERT_TRUE(sorted.ok());
    EXPECT_EQ(ids_of(*sorted), (std::vector<std::string>{"rId1", "rId2"}));
    auto in_order = read_relationships_in_document_order(*archive, "ppt/slides/slide1.xml");
    ASSERT_TRUE(in_order.ok());
    EXPECT_EQ(ids_of(*in_order), (std::vector<std::string>{"rId2", "rId1"}));
    auto strict = read_relationships_strict(*archive, "ppt/slides/slide1.xml");
    ASSERT_TRUE(strict.ok());
    EXPECT_EQ(ids_of(*strict), (std::vector<std::string>{"rId2", "rId1"}));

    // absent relationship part: empty for every reader
    for (auto* reader : {&read_relationships, &read_relationships_strict}) {
        auto none = (*reader)(*archive, "ppt/presentation.xml");
        ASSERT_TRUE(none.ok());
        EXPECT_TRUE(none->empty());
    }

    // malformed: the lenient reader keeps rId1, the strict one refuses
    auto lenient = read_relationships(*archive, "ppt/slides/slide2.xml");
    ASSERT_TRUE(lenient.ok());
    EXPECT_EQ(ids_of(*lenient), (std::vector<std::string>{"rId1"}));
    auto refused = read_relationships_strict(*archive, "ppt/slides/slide2.xml");
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().kind, ErrorKind::Xml);

    // unopenable: empty leniently, a Zip error strictly
    auto unopenable = read_relationships(*archive, "ppt/slides/slide3.xml");
    ASSERT_TRUE(unopenable.ok());
    EXPECT_TRUE(unopenable->empty());
    auto unopenable_strict = read_relationships_strict(*archive, "ppt/slides/slide3.xml");
    ASSERT_FALSE(unopenable_strict.ok());
    EXPECT_EQ(unopenable_strict.error().kind, ErrorKind::Zip);
}

// ---- every relationship part of the corpus ---------------------------------

using RelationshipTuple = std::tuple<std::string, std::string, std::string, std::optional<std::string>>;

std::string unescape_simply(std::string value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '&') {
            out.push_back(value[i]);
            continue;
        }
        std::size_t semicolon = value.find(';', i);
        std::string name = value.substr(i + 1, semicolon - i - 1);
        if (name == "amp") out += '&';
        else if (name == "lt") out += '<';
        else if (name == "gt") out += '>';
        else if (name == "quot") out += '"';
        else if (name == "apos") out += '\'';
        else if (name.starts_with("#x")) out += static_cast<char>(std::stoi(name.substr(2), nullptr, 16));
        else if (name.starts_with("#")) out += static_cast<char>(std::stoi(name.substr(1)));
        i = semicolon;
    }
    return out;
}

// Relationship elements found by plain string search, attributes split by
// hand; an independent reading of what the XML reader should see.
std::multiset<RelationshipTuple> scan_relationships(const std::string& content) {
    std::multiset<RelationshipTuple> found;
    for (std::size_t at = content.find("<Relationship"); at != std::string::npos;
         at = content.find("<Relationship", at + 1)) {
        char after = content[at + 13];
        if (after != ' ' && after != '/' && after != '>' && after != '\n' && after != '\r' && after != '\t') continue;
        std::string id, type, target;
        std::optional<std::string> mode;
        std::size_t i = at + 13;
        while (i < content.size() && content[i] != '>' && content[i] != '/') {
            if (std::isspace(static_cast<unsigned char>(content[i]))) {
                ++i;
                continue;
            }
            std::size_t equals = content.find('=', i);
            std::string name = content.substr(i, equals - i);
            while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back()))) name.pop_back();
            std::size_t open = content.find_first_of("\"'", equals);
            std::size_t close = content.find(content[open], open + 1);
            std::string value = unescape_simply(content.substr(open + 1, close - open - 1));
            if (name == "Id") id = value;
            else if (name == "Type") type = value;
            else if (name == "Target") target = value;
            else if (name == "TargetMode") mode = value;
            i = close + 1;
        }
        found.insert({id, type, target, mode});
    }
    return found;
}

TEST(RelationshipsCorpus, EveryRelationshipPartReadsLikeAPlainScan) {
    ZANDREL_REQUIRE_CORPUS();
    std::size_t parts = 0;
    std::size_t relationships = 0;
    for (const auto& deck : testing::valid_corpus_decks()) {
        auto archive = open_package(deck.string());
        ASSERT_TRUE(archive.ok()) << deck << ": " << archive.error().display();
        for (std::size_t i = 0; i < archive->entry_count(); ++i) {
            const std::string name = archive->entry(i).name;
            if (!name.ends_with(".rels")) continue;
            auto content = read_archive_bytes(*archive, name);
            ASSERT_TRUE(content.ok() && content->has_value()) << deck << " " << name;
            std::multiset<RelationshipTuple> parsed;
            for (const auto& r : parse_relationships(**content))
                parsed.insert({r.id, r.relationship_type, r.target, r.target_mode});
            EXPECT_EQ(parsed, scan_relationships(**content)) << deck << " " << name;
            auto strict = parse_relationships_strict(**content);
            EXPECT_TRUE(strict.ok()) << deck << " " << name;
            ++parts;
            relationships += parsed.size();
        }
    }
    EXPECT_GT(parts, 500u);
    std::printf("compared %zu relationships in %zu relationship parts\n", relationships, parts);
}

}  // namespace
}  // namespace zandrel
