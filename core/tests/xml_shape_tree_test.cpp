#include <filesystem>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "package_reader.hpp"
#include "package_slide_order.hpp"
#include "test_support.hpp"
#include "xml_shape_tree.hpp"

namespace zandrel {
namespace {

constexpr auto none = std::nullopt;

std::string shape(std::string_view id, std::string_view name = "S") {
    return "<p:sp><p:nvSpPr><p:cNvPr id=\"" + std::string(id) + "\" name=\"" + std::string(name) +
           "\"/><p:cNvSpPr/><p:nvPr/></p:nvSpPr><p:spPr/></p:sp>";
}

std::string picture(std::string_view id) {
    return "<p:pic><p:nvPicPr><p:cNvPr id=\"" + std::string(id) +
           "\" name=\"P\"/><p:cNvPicPr/><p:nvPr/></p:nvPicPr><p:blipFill/><p:spPr/></p:pic>";
}

std::string group(std::string_view id, std::string_view children, std::string_view properties = "<p:grpSpPr></p:grpSpPr>") {
    return "<p:grpSp><p:nvGrpSpPr><p:cNvPr id=\"" + std::string(id) +
           "\" name=\"G\"/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr>" + std::string(properties) +
           std::string(children) + "</p:grpSp>";
}

std::string slide(std::string_view tree_children) {
    return "<?xml version=\"1.0\"?><p:sld><p:cSld><p:spTree><p:nvGrpSpPr><p:cNvPr id=\"1\" name=\"\"/>"
           "<p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr><p:grpSpPr/>" +
           std::string(tree_children) + "</p:spTree></p:cSld></p:sld>";
}

std::string alternate(std::string_view choice, std::string_view fallback) {
    return "<mc:AlternateContent><mc:Choice Requires=\"p14\">" + std::string(choice) +
           "</mc:Choice><mc:Fallback>" + std::string(fallback) + "</mc:Fallback></mc:AlternateContent>";
}

std::vector<std::string> as_strings(const std::vector<std::string_view>& views) {
    return {views.begin(), views.end()};
}

// ---- name predicates -------------------------------------------------------

TEST(ShapeTreeNames, ExactlyFiveShapeElements) {
    for (std::string_view name : {"sp", "pic", "graphicFrame", "grpSp", "cxnSp"}) {
        EXPECT_TRUE(is_shape_element_name(name)) << name;
        EXPECT_TRUE(is_shape_tree_shape(name)) << name;
    }
    for (std::string_view name : {"p:sp", "spTree", "contentPart", "AlternateContent", "SP", "", "grpSpPr"}) {
        EXPECT_FALSE(is_shape_element_name(name)) << name;
        EXPECT_FALSE(is_shape_tree_shape(name)) << name;
    }
}

// ---- find_next_shape_start -------------------------------------------------

TEST(ShapeTreeNextShapeStart, EarliestOfTheFiveNames) {
    const std::string text = "<p:spTree><p:spPr/><p:cxnSp>x</p:cxnSp><p:graphicFrame\n/><p:sp>";
    auto first = find_next_shape_start(text, 0);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->offset, 19u);
    EXPECT_EQ(first->name, "p:cxnSp");
    auto second = find_next_shape_start(text, 20);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->offset, 39u);
    EXPECT_EQ(second->name, "p:graphicFrame");
    auto third = find_next_shape_start(text, 40);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->name, "p:sp");
    EXPECT_FALSE(find_next_shape_start(text, third->offset + 1));
    EXPECT_FALSE(find_next_shape_start("<p:spTree><p:contentPart/>", 0));
}

// ---- extract_shape_blocks --------------------------------------------------

TEST(ShapeTreeBlocks, TopLevelShapesWithGroupsWhole) {
    const std::string text_box = shape("2", "TextBox 1");
    const std::string pic = picture("3");
    const std::string grp = group("4", shape("5") + shape("6"));
    const std::string text = slide(text_box + pic + grp);
    EXPECT_EQ(as_strings(extract_shape_blocks(text)), (std::vector<std::string>{text_box, pic, grp}));
    auto bounds = extract_shape_bounds(text);
    ASSERT_EQ(bounds.size(), 3u);
    EXPECT_EQ(bounds[2].name, "p:grpSp");
    EXPECT_EQ(text.substr(bounds[2].start, bounds[2].end - bounds[2].start), grp);
}

TEST(ShapeTreeBlocks, SkipsShapesInsideAlternateContent) {
    const std::string before = shape("2");
    const std::string after = picture("9");
    const std::string text = slide(before + alternate(shape("3"), picture("4")) + after);
    EXPECT_EQ(as_strings(extract_shape_blocks(text)), (std::vector<std::string>{before, after}));
}

TEST(ShapeTreeBlocks, ShapesAfterAClosedAlternateContentBlockCount) {
    // the block before the shape is closed, so the shape is not inside it
    const std::string after = shape("5");
    const std::string text = slide(alternate("<p14:x/>", "<p:x/>") + after);
    EXPECT_EQ(as_strings(extract_shape_blocks(text)), (std::vector<std::string>{after}));
}

TEST(ShapeTreeBlocks, UnterminatedAlternateContentDoesNotHideShapes) {
    const std::string inner = shape("3");
    const std::string text = slide("<mc:AlternateContent><mc:Choice>" + inner + shape("4"));
    EXPECT_EQ(as_strings(extract_shape_blocks(text)), (std::vector<std::string>{inner, shape("4")}));
}

TEST(ShapeTreeBlocks, AShapeWithoutEndStopsTheWalk) {
    const std::string first = shape("2");
    const std::string text = slide(first + "<p:pic><p:nvPicPr/>" + shape("4"));
    EXPECT_EQ(as_strings(extract_shape_blocks(text)), (std::vector<std::string>{first}));
}

TEST(ShapeTreeBlocks, EmptyTreeAndNoTree) {
    EXPECT_TRUE(extract_shape_blocks(slide("")).empty());
    EXPECT_TRUE(extract_shape_blocks("").empty());
}

// ---- max_cnvpr_id and next_shape_id ----------------------------------------

TEST(ShapeTreeMaxId, LargestParsableIdOfEveryCnvPr) {
    const std::pair<std::string, std::uint64_t> cases[] = {
        {slide(""), 1},
        {"<p:sld/>", 0},
        {shape("2") + shape("10") + shape("x7"), 10},
        {group("3", group("4", shape("40"))), 40},  // nested groups count
        {shape("+5"), 5},
        {shape("18446744073709551616") + shape("8"), 8},  // overflow is not an id
        {"<p:cNvPr name=\"a>b\" id=\"12\"/>" + shape("3"), 12},  // ">" inside a value
        {"<p:cNvPr name='x>' id=\"12\"/>", 12},
        {"<p:cNvPr r:id=\"rId3\" id=\"4\"/>", 0},  // first `id="` wins, as for attribute_value
        {"<p:cNvPr name=\"broken id=\"9\"<p:cNvPr id=\"6\"/>", 6},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(max_cnvpr_id(text), expected) << text;
}

TEST(ShapeTreeMaxId, NextShapeIdIsCheckedForOverflow) {
    auto first = next_shape_id("<p:sld/>");
    ASSERT_TRUE(first.ok());
    EXPECT_EQ(*first, 1u);
    auto next = next_shape_id(shape("18446744073709551614"));
    ASSERT_TRUE(next.ok());
    EXPECT_EQ(*next, UINT64_MAX);
    auto overflow = next_shape_id(shape("18446744073709551615"));
    ASSERT_FALSE(overflow.ok());
    EXPECT_EQ(overflow.error().display(), "invalid input: no shape id is left after 18446744073709551615");
}

// ---- direct_group_child_bounds ---------------------------------------------

std::string child_text(std::string_view group_text, const std::optional<ShapeBounds>& child) {
    if (!child) return "<absent>";
    return std::string(group_text.substr(child->start, child->end - child->start));
}

TEST(ShapeTreeGroupChildren, CountsDirectChildrenOfAllKinds) {
    const std::string inner = group("3", shape("4") + shape("5"));
    const std::string pic = picture("6");
    const std::string connector = "<p:cxnSp><p:nvCxnSpPr/></p:cxnSp>";
    const std::string text = group("2", inner + pic + connector);
    EXPECT_EQ(child_text(text, direct_group_child_bounds(text, 0)), inner);
    EXPECT_EQ(direct_group_child_bounds(text, 0)->name, "p:grpSp");
    EXPECT_EQ(child_text(text, direct_group_child_bounds(text, 1)), pic);
    EXPECT_EQ(child_text(text, direct_group_child_bounds(text, 2)), connector);
    EXPECT_EQ(direct_group_child_bounds(text, 2)->name, "p:cxnSp");
    EXPECT_FALSE(direct_group_child_bounds(text, 3));
    EXPECT_EQ(direct_group_children(text).size(), 3u);
}

TEST(ShapeTreeGroupChildren, SelfClosingGroupPropertiesStartTheChildren) {
    // The first "</p:grpSpPr>" belongs to the nested group; children still
    // start right after the outer group's own empty properties element.
    const std::string inner = group("3", shape("4"));
    const std::string pic = picture("5");
    for (std::string_view properties : {"<p:grpSpPr/>", "<p:grpSpPr bwMode=\"auto\"/>"}) {
        const std::string text = group("2", inner + pic, properties);
        EXPECT_EQ(child_text(text, direct_group_child_bounds(text, 0)), inner) << properties;
        EXPECT_EQ(child_text(text, direct_group_child_bounds(text, 1)), pic) << properties;
        EXPECT_FALSE(direct_group_child_bounds(text, 2)) << properties;
    }
}

TEST(ShapeTreeGroupChildren, AlternateContentChildrenAreCounted) {
    const std::string text = group("2", alternate(shape("3"), picture("4")));
    EXPECT_EQ(child_text(text, direct_group_child_bounds(text, 0)), shape("3"));
    EXPECT_EQ(child_text(text, direct_group_child_bounds(text, 1)), picture("4"));
}

TEST(ShapeTreeGroupChildren, MalformedGroupsHaveNoChildren) {
    EXPECT_FALSE(direct_group_child_bounds("<p:grpSp><p:nvGrpSpPr/>" + shape("2") + "</p:grpSp>", 0));
    EXPECT_FALSE(direct_group_child_bounds("<p:grpSp><p:grpSpPr></p:grpSpPr>" + shape("2"), 0));
    EXPECT_FALSE(direct_group_child_bounds("<p:grpSp><p:grpSpPr>" + shape("2") + "</p:grpSp>", 0));
    // a child that runs past the group's last end tag
    EXPECT_FALSE(direct_group_child_bounds("<p:grpSp><p:grpSpPr/><p:sp></p:grpSp></p:sp>", 0));
}

// ---- nested_group_child_bounds ---------------------------------------------

TEST(ShapeTreeNestedGroup, FindsAGroupInsideATopLevelGroup) {
    const std::string nested = group("11", shape("12"));
    const std::string text = slide(shape("2") + group("3", shape("4")) + group("10", picture("13") + nested));
    auto bounds = nested_group_child_bounds(text, 1, 1);
    ASSERT_TRUE(bounds.ok()) << bounds.error().display();
    EXPECT_EQ(text.substr(bounds->start, bounds->end - bounds->start), nested);
}

TEST(ShapeTreeNestedGroup, ReportsEachMissingPiece) {
    const std::string text = slide(group("2", picture("3") + group("4", shape("5"))));
    const std::tuple<std::size_t, std::size_t, std::string> cases[] = {
        {1, 0, "invalid input: group shape index 1 was not found"},
        {0, 0, "invalid input: nested group child index 0 is not a group shape"},
        {0, 2, "invalid input: nested group child index 2 was not found"},
    };
    for (const auto& [group_index, child_index, message] : cases) {
        auto bounds = nested_group_child_bounds(text, group_index, child_index);
        ASSERT_FALSE(bounds.ok()) << message;
        EXPECT_EQ(bounds.error().kind, ErrorKind::InvalidInput);
        EXPECT_EQ(bounds.error().display(), message);
    }
}

TEST(ShapeTreeNestedGroup, TheGroupWalkDoesNotSkipAlternateContent) {
    const std::string nested = group("5", shape("6"));
    const std::string text = slide(alternate(group("2", nested), picture("3")));
    auto bounds = nested_group_child_bounds(text, 0, 0);
    ASSERT_TRUE(bounds.ok()) << bounds.error().display();
    EXPECT_EQ(text.substr(bounds->start, bounds->end - bounds->start), nested);
}

// ---- the walks agree with plain re-searching --------------------------------

// Straightforward versions that search the whole remaining text for every
// question, as slow as they are obvious; the fast walks must agree.
namespace plain {

std::optional<std::size_t> tag_start(std::string_view text, std::size_t from, std::string_view tag) {
    std::string pattern = std::string("<").append(tag);
    while (true) {
        auto at = text.find(pattern, from);
        if (at == std::string_view::npos) return none;
        auto next = at + pattern.size();
        if (next < text.size() && std::string_view(" />\t\n\v\f\r").find(text[next]) != std::string_view::npos)
            return at;
        from = next;
    }
}

std::optional<std::size_t> element_end(std::string_view text, std::size_t start, std::string_view tag) {
    std::string closing = "</" + std::string(tag) + ">";
    std::size_t position = start + 1 + tag.size();
    int depth = 1;
    while (true) {
        auto open = tag_start(text, position, tag);
        auto close = text.find(closing, position);
        if (close != std::string_view::npos && (!open || close < *open)) {
            position = close + closing.size();
            if (--depth == 0) return position;
        } else if (open) {
            ++depth;
            position = *open + 1 + tag.size();
        } else {
            return none;
        }
    }
}

std::optional<ShapeStart> next_shape(std::string_view text, std::size_t from) {
    std::optional<ShapeStart> best;
    for (std::string_view name : {"p:sp", "p:pic", "p:graphicFrame", "p:grpSp", "p:cxnSp"}) {
        auto at = tag_start(text, from, name);
        if (at && (!best || *at < best->offset)) best = ShapeStart{*at, name};
    }
    return best;
}

std::vector<std::string_view> blocks(std::string_view text) {
    std::vector<std::string_view> found;
    std::size_t position = 0;
    while (auto start = next_shape(text, position)) {
        auto before = text.substr(0, start->offset);
        auto open = before.rfind("<mc:AlternateContent");
        auto close = before.rfind("</mc:AlternateContent>");
        if (open != std::string_view::npos && (close == std::string_view::npos || close < open)) {
            if (auto end = element_end(text, open, "mc:AlternateContent")) {
                position = *end;
                continue;
            }
        }
        auto end = element_end(text, start->offset, start->name);
        if (!end) break;
        found.push_back(text.substr(start->offset, *end - start->offset));
        position = *end;
    }
    return found;
}

std::optional<ShapeBounds> group_child(std::string_view group, std::size_t index) {
    auto first = group.find("</p:grpSpPr>");
    auto last = group.rfind("</p:grpSp>");
    if (first == std::string_view::npos || last == std::string_view::npos) return none;
    std::size_t position = first + 12;
    for (std::size_t count = 0;; ++count) {
        auto start = next_shape(group, position);
        if (!start || start->offset >= last) return none;
        auto end = element_end(group, start->offset, start->name);
        if (!end || *end > last) return none;
        if (count == index) return ShapeBounds{start->offset, *end, start->name};
        position = *end;
    }
}

}  // namespace plain

std::string random_markup(std::mt19937& random) {
    static const std::vector<std::string> pieces = {
        "<p:sp>", "</p:sp>", "<p:sp/>", "<p:spPr/>", "<p:spTree>", "<p:pic>", "</p:pic>", "<p:grpSp>",
        "</p:grpSp>", "<p:grpSpPr>", "</p:grpSpPr>", "<p:cxnSp\n>", "</p:cxnSp>", "<p:graphicFrame ",
        "</p:graphicFrame>", "<mc:AlternateContent>", "</mc:AlternateContent>", "<mc:AlternateContentX>",
        "<p:cNvPr id=\"3\"/>", "x", "<p:sp", "<p:picture>", "</p:sp >",
    };
    std::uniform_int_distribution<std::size_t> length(0, 40);
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
    std::string text;
    for (std::size_t n = length(random); n > 0; --n) text += pieces[pick(random)];
    return text;
}

TEST(ShapeTreeWalks, AgreeWithPlainSearchesOnRandomMarkup) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 3000; ++round) {
        const std::string text = random_markup(random);
        ASSERT_EQ(extract_shape_blocks(text), plain::blocks(text)) << text;
        // slices of one index, as a group's children are walked
        TagIndex index(text, shape_walk_tags);
        std::uniform_int_distribution<std::size_t> offset(0, text.size());
        for (int slice = 0; slice < 8; ++slice) {
            std::size_t start = offset(random);
            std::size_t end = offset(random);
            if (start > end) std::swap(start, end);
            std::string_view part = std::string_view(text).substr(start, end - start);
            ASSERT_EQ(extract_shape_blocks(index, start, end), plain::blocks(part)) << text << " " << start << ".." << end;
        }
        ShapeScanner scanner(text);
        for (std::size_t from = 0; from <= text.size(); from += 3) {
            auto fast = scanner.next_shape_start(from);
            auto slow = plain::next_shape(text, from);
            ASSERT_EQ(fast.has_value(), slow.has_value()) << text << " from " << from;
            if (!fast) continue;
            ASSERT_EQ(fast->offset, slow->offset) << text << " from " << from;
            ASSERT_EQ(fast->name, slow->name) << text << " from " << from;
            ASSERT_EQ(scanner.shape_end(*fast), plain::element_end(text, slow->offset, slow->name)) << text;
        }
        for (auto start = plain::tag_start(text, 0, "p:grpSp"); start; start = plain::tag_start(text, *start + 1, "p:grpSp")) {
            auto end = plain::element_end(text, *start, "p:grpSp");
            if (!end) break;
            std::string_view grp = std::string_view(text).substr(*start, *end - *start);
            for (std::size_t index = 0; index < 4; ++index) {
                auto fast = direct_group_child_bounds(grp, index);
                auto slow = plain::group_child(grp, index);
                // they may differ only where a "</p:grpSpPr>" comes without or
                // before the group's own properties element
                auto own = grp.find("<p:grpSpPr>");
                auto own_end = grp.find("</p:grpSpPr>");
                if (own == std::string_view::npos || (own_end != std::string_view::npos && own_end < own)) continue;
                ASSERT_EQ(fast.has_value(), slow.has_value()) << grp << " child " << index;
                if (fast) {
                    EXPECT_EQ(fast->start, slow->start) << grp;
                    EXPECT_EQ(fast->end, slow->end) << grp;
                }
            }
        }
    }
}

TEST(ShapeTreeCorpus, EverySlideSplitsIntoWholeShapeElements) {
    ZANDREL_REQUIRE_CORPUS();
    std::size_t slides = 0;
    std::size_t blocks = 0;
    std::size_t groups = 0;
    for (const auto& deck : testing::valid_corpus_decks()) {
        auto archive = open_package(deck.string());
        ASSERT_TRUE(archive.ok()) << deck;
        auto parts = slide_parts(*archive);
        ASSERT_TRUE(parts.ok()) << deck << ": " << parts.error().display();
        for (const auto& part : *parts) {
            auto text = read_archive_text(*archive, part);
            ASSERT_TRUE(text.ok() && text->has_value()) << deck << " " << part;
            std::string_view slide_text = **text;
            auto shapes = extract_shape_bounds(slide_text);
            for (const auto& shape : shapes) {
                auto block = slide_text.substr(shape.start, shape.end - shape.start);
                std::string opening = std::string("<").append(shape.name);
                std::string closing = std::string("</").append(shape.name).append(">");
                EXPECT_TRUE(block.starts_with(opening)) << deck << " " << part;
                EXPECT_TRUE(is_shape_element_name(shape.name.substr(2)));
                EXPECT_TRUE(block.ends_with(closing)) << deck << " " << part;
                if (shape.name != "p:grpSp") continue;
                ++groups;
                auto children = direct_group_children(block);
                for (std::size_t i = 0; i <= children.size(); ++i) {
                    auto slow = plain::group_child(block, i);
                    ASSERT_EQ(slow.has_value(), i < children.size()) << deck << " " << part;
                    if (slow) EXPECT_EQ(slow->end, children[i].end) << deck << " " << part;
                }
            }
            EXPECT_EQ(extract_shape_blocks(slide_text), plain::blocks(slide_text)) << deck << " " << part;
            ++slides;
            blocks += shapes.size();
        }
    }
    EXPECT_GT(slides, 500u);
    std::printf("%zu slides, %zu top-level shapes, %zu groups\n", slides, blocks, groups);
}

}  // namespace
}  // namespace zandrel
