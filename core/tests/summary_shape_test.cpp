// Shape summaries: kinds, identity and placeholder data, relationship ids,
// the shape's own transform, group children in slide coordinates (nested,
// offsets and scales, hostile depth), and the transform arithmetic at the
// edges of the 64-bit range.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "json_output.hpp"
#include "package_reader.hpp"
#include "package_slide_order.hpp"
#include "summary_shape_extract.hpp"
#include "test_support.hpp"
#include "xml_tag_scan.hpp"

namespace zandrel {
namespace {

using Strings = std::vector<std::string>;
using Transform = std::optional<TransformSummary>;
constexpr auto i64_max = std::numeric_limits<std::int64_t>::max();
constexpr auto i64_min = std::numeric_limits<std::int64_t>::min();

std::string xfrm(std::int64_t x, std::int64_t y, std::int64_t cx, std::int64_t cy) {
    return "<a:xfrm><a:off x=\"" + std::to_string(x) + "\" y=\"" + std::to_string(y) + "\"/><a:ext cx=\"" +
           std::to_string(cx) + "\" cy=\"" + std::to_string(cy) + "\"/></a:xfrm>";
}

std::string group_xfrm(std::int64_t x, std::int64_t y, std::int64_t cx, std::int64_t cy, std::string child_space) {
    std::string plain = xfrm(x, y, cx, cy);
    return plain.insert(plain.size() - std::string("</a:xfrm>").size(), child_space);
}

std::string text_shape(int id, const std::string& text, const std::string& transform = "",
                       const std::string& placeholder = "") {
    return "<p:sp><p:nvSpPr><p:cNvPr id=\"" + std::to_string(id) + "\" name=\"Shape " + std::to_string(id) +
           "\"/><p:cNvSpPr/><p:nvPr>" + placeholder + "</p:nvPr></p:nvSpPr><p:spPr>" + transform +
           "</p:spPr><p:txBody><a:bodyPr/><a:p><a:r><a:t>" + text + "</a:t></a:r></a:p></p:txBody></p:sp>";
}

std::string picture(int id, const std::string& rel_id, const std::string& transform, const std::string& extra = "") {
    return "<p:pic><p:nvPicPr><p:cNvPr id=\"" + std::to_string(id) + "\" name=\"Picture\"/><p:cNvPicPr/><p:nvPr>" +
           extra + "</p:nvPr></p:nvPicPr><p:blipFill><a:blip r:embed=\"" + rel_id +
           "\"/></p:blipFill><p:spPr>" + transform + "</p:spPr></p:pic>";
}

std::string group(int id, const std::string& properties, const std::string& children) {
    return "<p:grpSp><p:nvGrpSpPr><p:cNvPr id=\"" + std::to_string(id) + "\" name=\"Group " + std::to_string(id) +
           "\"/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr>" + properties + children + "</p:grpSp>";
}

std::string table_frame(int id, const std::string& rows) {
    return "<p:graphicFrame><p:nvGraphicFramePr><p:cNvPr id=\"" + std::to_string(id) +
           "\" name=\"Table\"/><p:cNvGraphicFramePr/><p:nvPr/></p:nvGraphicFramePr>"
           "<p:xfrm><a:off x=\"10\" y=\"20\"/><a:ext cx=\"30\" cy=\"40\"/></p:xfrm><a:graphic>"
           "<a:graphicData uri=\"http://schemas.openxmlformats.org/drawingml/2006/table\"><a:tbl><a:tblPr/>"
           "<a:tblGrid><a:gridCol w=\"1\"/></a:tblGrid>" +
           rows + "</a:tbl></a:graphicData></a:graphic></p:graphicFrame>";
}

std::string cell(const std::string& paragraphs, const std::string& attributes = "") {
    return "<a:tc" + attributes + "><a:txBody><a:bodyPr/>" + paragraphs + "</a:txBody><a:tcPr/></a:tc>";
}

std::string para(const std::string& text) { return "<a:p><a:r><a:t>" + text + "</a:t></a:r></a:p>"; }

TEST(SummaryShapeTest, KindFollowsTheElementAndItsContent) {
    struct Case {
        std::string block;
        std::string kind;
        bool has_picture;
        bool has_group;
    };
    const std::vector<Case> cases = {
        {text_shape(2, "x"), "shape", false, false},
        {picture(3, "rId2", xfrm(1, 2, 3, 4)), "picture", true, false},
        {picture(3, "rId2", xfrm(1, 2, 3, 4), "<a:videoFile r:link=\"rId3\"/>"), "movie", false, false},
        {table_frame(4, "<a:tr h=\"1\">" + cell(para("c")) + "</a:tr>"), "graphic_frame", false, false},
        {"<p:graphicFrame><a:graphicData><p:oleObj r:id=\"rId5\"/></a:graphicData></p:graphicFrame>",
         "ole_object", false, false},
        {group(5, "<p:grpSpPr/>", ""), "group", false, true},
        {"<p:cxnSp><p:nvCxnSpPr><p:cNvPr id=\"6\" name=\"Line\"/></p:nvCxnSpPr></p:cxnSp>", "connector", false,
         false},
        {"<p:contentPart r:id=\"rId9\"/>", "unknown", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.block);
        ShapeSummary shape = summarize_shape_block(c.block);
        EXPECT_EQ(shape.kind, c.kind);
        EXPECT_EQ(shape.has_picture, c.has_picture);
        EXPECT_EQ(shape.has_group, c.has_group);
    }
}

TEST(SummaryShapeTest, IdentityAndPlaceholderAreRawValues) {
    ShapeSummary shape = summarize_shape_block(
        "<p:sp><p:nvSpPr><p:cNvPr id=\"7\" name=\"Title &amp; more\"><a:hlinkClick r:id=\"rId4\"/></p:cNvPr>"
        "<p:cNvSpPr/><p:nvPr><p:ph type=\"title\" idx=\"4294967295\"/></p:nvPr></p:nvSpPr><p:spPr/></p:sp>");
    EXPECT_EQ(shape.id, "7");
    EXPECT_EQ(shape.name, "Title &amp; more");
    EXPECT_TRUE(shape.is_placeholder);
    EXPECT_EQ(shape.placeholder_type, "title");
    EXPECT_EQ(shape.placeholder_idx, "4294967295");

    ShapeSummary anonymous = summarize_shape_block("<p:sp><p:nvSpPr><p:nvPr><p:ph/></p:nvPr></p:nvSpPr></p:sp>");
    EXPECT_EQ(anonymous.id, std::nullopt);
    EXPECT_EQ(anonymous.name, std::nullopt);
    EXPECT_TRUE(anonymous.is_placeholder);
    EXPECT_EQ(anonymous.placeholder_type, std::nullopt);
    EXPECT_EQ(anonymous.placeholder_idx, std::nullopt);
}

TEST(SummaryShapeTest, GroupReportsTheFirstPlaceholderOfItsChildren) {
    std::string block = group(2, "<p:grpSpPr/>",
                              text_shape(3, "a") + text_shape(4, "b", "", "<p:ph type=\"body\" idx=\"1\"/>"));
    ShapeSummary shape = summarize_shape_block(block);
    EXPECT_TRUE(shape.is_placeholder);
    EXPECT_EQ(shape.placeholder_type, "body");
    ASSERT_EQ(shape.children.size(), 2u);
    EXPECT_FALSE(shape.children[0].is_placeholder);
    EXPECT_TRUE(shape.children[1].is_placeholder);
}

TEST(SummaryShapeTest, RelationshipIdsAreSortedAndUnique) {
    std::string block = group(2, "<p:grpSpPr/>",
                              picture(3, "rId10", "") + picture(4, "rId10", "") +
                                  "<p:sp><p:nvSpPr><p:cNvPr id=\"5\" name=\"L\"><a:hlinkClick r:id=\"rId2\"/>"
                                  "</p:cNvPr></p:nvSpPr><a:blip r:link=\"rId3\"/></p:sp>");
    ShapeSummary shape = summarize_shape_block(block);
    EXPECT_EQ(shape.relationship_ids, (Strings{"rId10", "rId2", "rId3"}));
    EXPECT_EQ(shape.children[0].relationship_ids, (Strings{"rId10"}));
    EXPECT_FALSE(shape.has_chart);
    EXPECT_TRUE(summarize_shape_block("<p:graphicFrame><c:chart r:id=\"rId7\"/></p:graphicFrame>").has_chart);
}

TEST(SummaryShapeTest, TransformIsTheShapesOwn) {
    struct Case {
        std::string label;
        std::string block;
        Transform transform;
    };
    const std::string ole_frame =
        "<p:graphicFrame><p:nvGraphicFramePr><p:cNvPr id=\"4\" name=\"Object\"/></p:nvGraphicFramePr>"
        "<p:xfrm><a:off x=\"100\" y=\"200\"/><a:ext cx=\"300\" cy=\"400\"/></p:xfrm><a:graphic><a:graphicData>"
        "<p:oleObj r:id=\"rId2\"><p:embed/>" +
        picture(5, "rId3", xfrm(1, 2, 3, 4)) + "</p:oleObj></a:graphicData></a:graphic></p:graphicFrame>";
    const std::vector<Case> cases = {
        {"text box", text_shape(2, "x", xfrm(1, -2, 3, 4)), TransformSummary{1, -2, 3, 4}},
        {"placeholder without transform", text_shape(2, "x", "", "<p:ph type=\"title\"/>"), std::nullopt},
        {"ole frame keeps its own p:xfrm", ole_frame, TransformSummary{100, 200, 300, 400}},
        {"group without transform borrows nothing",
         group(2, "<p:grpSpPr/>", text_shape(3, "x", xfrm(5, 6, 7, 8))), std::nullopt},
        {"group whose properties lack a:xfrm",
         group(2, "<p:grpSpPr><a:noFill/></p:grpSpPr>", text_shape(3, "x", xfrm(5, 6, 7, 8))), std::nullopt},
        {"group without properties element", group(2, "", text_shape(3, "x", xfrm(5, 6, 7, 8))), std::nullopt},
        {"self-closing a:xfrm", text_shape(2, "x", "<a:xfrm/>"), std::nullopt},
        {"missing a:ext", text_shape(2, "x", "<a:xfrm><a:off x=\"1\" y=\"2\"/></a:xfrm>"), std::nullopt},
        {"bad values read as 0",
         text_shape(2, "x", "<a:xfrm><a:off x=\"1.5\" y=\"\"/><a:ext cx=\"99999999999999999999\" cy=\"-7\"/></a:xfrm>"),
         TransformSummary{0, 0, 0, -7}},
        {"picture", picture(3, "rId2", xfrm(9, 8, 7, 6)), TransformSummary{9, 8, 7, 6}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(extract_transform(c.block), c.transform);
        ShapeSummary shape = summarize_shape_block(c.block);
        EXPECT_EQ(shape.transform, c.transform);
        EXPECT_EQ(shape.effective_transform, c.transform);
    }
}

TEST(SummaryShapeTest, ChildrenAreMappedThroughOffsetsAndScales) {
    std::string block = group(2, "<p:grpSpPr>" + group_xfrm(1000, 2000, 4000, 2000,
                                                           "<a:chOff x=\"0\" y=\"0\"/><a:chExt cx=\"2000\" cy=\"1000\"/>") +
                                     "</p:grpSpPr>",
                              text_shape(3, "child", xfrm(500, 500, 1000, 1000)));
    ShapeSummary shape = summarize_shape_block(block);
    EXPECT_EQ(shape.effective_transform, (TransformSummary{1000, 2000, 4000, 2000}));
    ASSERT_EQ(shape.children.size(), 1u);
    EXPECT_EQ(shape.children[0].transform, (TransformSummary{500, 500, 1000, 1000}));
    EXPECT_EQ(shape.children[0].effective_transform, (TransformSummary{2000, 3000, 2000, 2000}));
    EXPECT_EQ(shape.text, "child");
}

TEST(SummaryShapeTest, NestedGroupsComposeTheirMappings) {
    // outer: child space (100,100) 1000x1000 onto (0,0) 2000x4000
    // inner, in outer space at (600,100) 200x200: child space (0,0) 100x100, no chExt below it
    std::string inner_leaf = text_shape(5, "leaf", xfrm(50, 25, 10, 10));
    std::string inner = group(4,
                              "<p:grpSpPr>" +
                                  group_xfrm(600, 100, 200, 200, "<a:chOff x=\"0\" y=\"0\"/><a:chExt cx=\"100\" cy=\"100\"/>") +
                                  "</p:grpSpPr>",
                              inner_leaf);
    std::string unscaled = group(6, "<p:grpSpPr>" + group_xfrm(100, 100, 50, 50, "<a:chOff x=\"90\" y=\"80\"/>") +
                                        "</p:grpSpPr>",
                                 text_shape(7, "flat", xfrm(95, 85, 5, 5)));
    std::string outer = group(2,
                              "<p:grpSpPr>" +
                                  group_xfrm(0, 0, 2000, 4000, "<a:chOff x=\"100\" y=\"100\"/><a:chExt cx=\"1000\" cy=\"1000\"/>") +
                                  "</p:grpSpPr>",
                              text_shape(3, "first", xfrm(100, 100, 10, 10)) + inner + unscaled);
    ShapeSummary shape = summarize_shape_block(outer);
    ASSERT_EQ(shape.children.size(), 3u);
    EXPECT_EQ(shape.children[0].effective_transform, (TransformSummary{0, 0, 20, 40}));
    const ShapeSummary& inner_group = shape.children[1];
    EXPECT_EQ(inner_group.kind, "group");
    EXPECT_EQ(inner_group.effective_transform, (TransformSummary{1000, 0, 400, 800}));
    ASSERT_EQ(inner_group.children.size(), 1u);
    // leaf: 50,25 in a 100x100 space onto 400x800 at (1000,0)
    EXPECT_EQ(inner_group.children[0].transform, (TransformSummary{50, 25, 10, 10}));
    EXPECT_EQ(inner_group.children[0].effective_transform, (TransformSummary{1200, 200, 40, 80}));
    // without a:chExt the child extent is the group's own: scale 1
    const ShapeSummary& flat_group = shape.children[2];
    EXPECT_EQ(flat_group.effective_transform, (TransformSummary{0, 0, 100, 200}));
    EXPECT_EQ(flat_group.children[0].effective_transform, (TransformSummary{5, 5, 5, 5}));
    EXPECT_EQ(shape.paragraphs, (Strings{"first", "leaf", "flat"}));
    EXPECT_EQ(inner_group.paragraphs, (Strings{"leaf"}));
}

TEST(SummaryShapeTest, GroupWithoutTransformGivesChildrenNoContext) {
    std::string block = group(2, "<p:grpSpPr/>", text_shape(3, "a", xfrm(5, 6, 7, 8)) + text_shape(4, "b"));
    ShapeSummary shape = summarize_shape_block(block);
    ASSERT_EQ(shape.children.size(), 2u);
    EXPECT_EQ(shape.children[0].effective_transform, (TransformSummary{5, 6, 7, 8}));
    EXPECT_EQ(shape.children[1].effective_transform, std::nullopt);
}

TEST(SummaryShapeTest, GroupChildrenSkipAlternateContentAndStartAfterTheGroupsOwnProperties) {
    // the nested group's properties must not be taken for the outer group's
    std::string nested = group(4, "<p:grpSpPr><a:xfrm/></p:grpSpPr>", text_shape(5, "deep"));
    std::string block = group(2, "<p:grpSpPr/>",
                              nested + "<mc:AlternateContent><mc:Choice>" + text_shape(6, "choice") +
                                  "</mc:Choice><mc:Fallback>" + text_shape(7, "fallback") +
                                  "</mc:Fallback></mc:AlternateContent>" + text_shape(8, "after"));
    ShapeSummary shape = summarize_shape_block(block);
    ASSERT_EQ(shape.children.size(), 2u);
    EXPECT_EQ(shape.children[0].id, "4");
    ASSERT_EQ(shape.children[0].children.size(), 1u);
    EXPECT_EQ(shape.children[0].children[0].id, "5");
    EXPECT_EQ(shape.children[1].id, "8");
    // every paragraph of the block counts, alternate content included
    EXPECT_EQ(shape.paragraphs, (Strings{"deep", "choice", "fallback", "after"}));
}

TEST(SummaryShapeTest, GroupWithoutPropertiesHasNoChildren) {
    ShapeSummary shape = summarize_shape_block(group(2, "", text_shape(3, "x")));
    EXPECT_TRUE(shape.children.empty());
    EXPECT_EQ(shape.text, "x");
}

TEST(SummaryShapeTest, RoundingGoesHalfAwayFromZero) {
    GroupContext context{0, 0, 3, 3, 0, 0, 2, 2};
    EXPECT_EQ(effective_transform(TransformSummary{1, -1, 1, -1}, context), (TransformSummary{2, -2, 2, -2}));
    EXPECT_EQ(effective_transform(TransformSummary{1, 1, 1, 1}, std::nullopt), (TransformSummary{1, 1, 1, 1}));
    EXPECT_EQ(effective_transform(std::nullopt, context), std::nullopt);
    // a zero child extent maps without scaling
    GroupContext flat{10, 20, 500, 500, 3, 4, 0, 0};
    EXPECT_EQ(effective_transform(TransformSummary{5, 5, 7, 8}, flat), (TransformSummary{12, 21, 7, 8}));
}

TEST(SummaryShapeTest, ArithmeticSaturatesInsteadOfOverflowing) {
    struct Case {
        std::string label;
        TransformSummary transform;
        GroupContext context;
        TransformSummary expected;
    };
    const std::vector<Case> cases = {
        {"difference below the range", {i64_min, i64_max, 1, 1}, {0, 0, 0, 0, 1, -1, 0, 0}, {i64_min, i64_max, 1, 1}},
        {"sum above the range", {i64_max, i64_min, 1, 1}, {1, -1, 0, 0, 0, 0, 0, 0}, {i64_max, i64_min, 1, 1}},
        {"scaled past the range", {i64_max, i64_min, i64_max, i64_max}, {0, 0, i64_max, i64_max, 0, 0, 1, 1},
         {i64_max, i64_min, i64_max, i64_max}},
        {"scaled below the range", {1, 1, i64_min, 1}, {0, 0, i64_max, i64_min, 0, 0, 1, 1},
         {i64_max, i64_min, i64_min, i64_min}},
        {"offset plus scaled value", {2, 0, 0, 0}, {i64_max - 1, 0, 4, 0, 0, 0, 2, 1}, {i64_max, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(effective_transform(c.transform, c.context), c.expected);
    }
}

TEST(SummaryShapeTest, ThousandsOfNestedGroupsNeedNoDeepStack) {
    constexpr int depth = 2000;
    std::string block;
    for (int i = 0; i < depth; ++i)
        block += "<p:grpSp><p:nvGrpSpPr><p:cNvPr id=\"" + std::to_string(i + 2) +
                 "\" name=\"G\"/></p:nvGrpSpPr><p:grpSpPr>" +
                 group_xfrm(1, 1, 10, 10, "<a:chOff x=\"1\" y=\"1\"/>") + "</p:grpSpPr>";
    block += text_shape(1, "core", xfrm(1, 1, 2, 2));
    for (int i = 0; i < depth; ++i) block += "</p:grpSp>";

    auto started = std::chrono::steady_clock::now();
    {
        ShapeSummary shape = summarize_shape_block(block);
        const ShapeSummary* level = &shape;
        int groups = 0;
        while (level->kind == "group") {
            ASSERT_EQ(level->children.size(), 1u);
            EXPECT_EQ(level->paragraphs, (Strings{"core"}));
            level = &level->children[0];
            ++groups;
        }
        EXPECT_EQ(groups, depth);
        EXPECT_EQ(level->id, "1");
        EXPECT_EQ(level->effective_transform, (TransformSummary{1, 1, 2, 2}));

        Json json = Json::parse(to_json_text(shape).text);
        const Json* node = &json;
        for (int i = 0; i < depth; ++i) node = &(*node)["children"][0];
        EXPECT_EQ((*node)["text"], "core");
    }
    auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LT(seconds, 30.0);
}

TEST(SummaryShapeTest, TablesWithMergedCellsListEveryCell) {
    std::string rows = "<a:tr h=\"1\">" + cell(para("Merged"), " gridSpan=\"2\"") + "<a:tc hMerge=\"1\"/>" +
                       cell(para("c")) + "</a:tr>" + "<a:tr h=\"1\">" + cell(para("one") + para("two"), " rowSpan=\"2\"") +
                       cell("<a:p><a:r><a:t>x</a:t></a:r><a:br/><a:r><a:t>y</a:t></a:r></a:p>") + cell("<a:p/>") +
                       "</a:tr>" + "<a:tr h=\"1\">" + cell(para(""), " vMerge=\"1\"") + "</a:tr>";
    ShapeSummary shape = summarize_shape_block(table_frame(4, rows));
    ASSERT_EQ(shape.tables.size(), 1u);
    const TableSummary& table = shape.tables[0];
    EXPECT_EQ(table.rows, (std::vector<Strings>{{"Merged", "", "c"}, {"one\ntwo", "x\vy", ""}, {""}}));
    EXPECT_EQ(table.row_count, 3u);
    EXPECT_EQ(table.col_count, 3u);
    EXPECT_EQ(shape.transform, (TransformSummary{10, 20, 30, 40}));
}

TEST(SummaryShapeTest, TablesAreFoundAnywhereInDocumentOrder) {
    std::string first = table_frame(4, "<a:tr h=\"1\">" + cell(para("1")) + "</a:tr>");
    std::string second = table_frame(5, "<a:tr h=\"1\">" + cell(para("2")) + cell(para("3")) + "</a:tr>");
    std::string slide = "<p:sld><p:cSld><p:spTree><p:nvGrpSpPr/><p:grpSpPr/>" + first +
                        group(6, "<p:grpSpPr/>", second) + "</p:spTree></p:cSld></p:sld>";
    auto tables = extract_tables(slide);
    ASSERT_EQ(tables.size(), 2u);
    EXPECT_EQ(tables[0].rows, (std::vector<Strings>{{"1"}}));
    EXPECT_EQ(tables[1].rows, (std::vector<Strings>{{"2", "3"}}));
    EXPECT_EQ(tables[1].col_count, 2u);

    auto shapes = extract_shapes(slide);
    ASSERT_EQ(shapes.size(), 2u);
    EXPECT_EQ(shapes[1].tables, (std::vector<TableSummary>{tables[1]}));
    EXPECT_EQ(shapes[1].children.at(0).tables, (std::vector<TableSummary>{tables[1]}));
    EXPECT_TRUE(extract_tables("<p:sld><a:tblPr/><a:tbl>unterminated").empty());
}

TEST(SummaryShapeTest, SlideShapesAreTheTopLevelBlocksOfTheShapeTree) {
    std::string slide = "<p:sld><p:cSld><p:spTree><p:nvGrpSpPr><p:cNvPr id=\"1\" name=\"\"/></p:nvGrpSpPr>"
                        "<p:grpSpPr/>" +
                        text_shape(2, "a") + "<mc:AlternateContent><mc:Choice>" + text_shape(3, "hidden") +
                        "</mc:Choice></mc:AlternateContent>" + picture(4, "rId2", xfrm(1, 2, 3, 4)) +
                        "</p:spTree></p:cSld></p:sld>";
    auto shapes = extract_shapes(slide);
    ASSERT_EQ(shapes.size(), 2u);
    EXPECT_EQ(shapes[0].id, "2");
    EXPECT_EQ(shapes[1].kind, "picture");
    EXPECT_TRUE(extract_shapes("<p:sld><p:cSld>" + text_shape(2, "a") + "</p:cSld></p:sld>").empty());
    EXPECT_TRUE(extract_shapes("<p:sld><p:spTree>" + text_shape(2, "a")).empty());
}

TEST(SummaryShapeTest, IllFormedUtf8IsReadWithReplacementCharacters) {
    std::string slide = "<p:sld><p:spTree><p:sp><p:nvSpPr><p:cNvPr id=\"2\" name=\"A\xff\"/></p:nvSpPr>"
                        "<p:txBody><a:p><a:r><a:t>x\xfey</a:t></a:r></a:p></p:txBody></p:sp></p:spTree></p:sld>";
    auto shapes = extract_shapes(slide);
    ASSERT_EQ(shapes.size(), 1u);
    EXPECT_EQ(shapes[0].name, "A\xEF\xBF\xBD");
    EXPECT_EQ(shapes[0].text, "x\xEF\xBF\xBDy");
}

TEST(SummaryShapeTest, MalformedBlockKeepsWhatWasReadBeforeTheFault) {
    ShapeSummary shape = summarize_shape_block(
        "<p:sp><p:nvSpPr><p:cNvPr id=\"2\" name=\"x\"/></p:nvSpPr><p:spPr>" + xfrm(1, 2, 3, 4) +
        "</p:spPr><p:txBody><a:p><a:r><a:t>ok</a:t></a:r></a:p><a:p><a:r><a:t>lost</a:r></a:p></p:txBody></p:sp>");
    EXPECT_EQ(shape.paragraphs, (Strings{"ok"}));
    EXPECT_EQ(shape.transform, (TransformSummary{1, 2, 3, 4}));
    EXPECT_EQ(shape.id, "2");
}

// The one pass over a slide gives what a pass per shape and a trimming pass
// over the whole slide give.
void expect_one_pass_agrees(std::string_view bytes) {
    LossyUtf8Text text(bytes);
    SlideIndex index(text.view());
    SlideShapesAndText both = extract_shapes_and_text(bytes, text, index);
    SlideTextScan scan = scan_slide_text(bytes);
    EXPECT_EQ(both.shapes, extract_shapes(bytes));
    EXPECT_EQ(both.text.texts, scan.texts);
    EXPECT_EQ(both.text.has_transition, scan.has_transition);
    EXPECT_EQ(both.text.has_timing, scan.has_timing);
}

std::string slide_with(const std::string& shapes, const std::string& after = "") {
    return "<p:sld><p:cSld><p:spTree><p:nvGrpSpPr><p:cNvPr id=\"1\" name=\"\"/></p:nvGrpSpPr><p:grpSpPr/>" +
           shapes + "</p:spTree></p:cSld>" + after + "</p:sld>";
}

TEST(SummaryShapeTest, OnePassOverTheSlideAgreesWithAPassPerShape) {
    const std::string grouped = group(5, "<p:grpSpPr>" + group_xfrm(10, 20, 40, 20, "<a:chOff x=\"0\" y=\"0\"/>") +
                                             "</p:grpSpPr>",
                                      text_shape(6, "inner", xfrm(2, 2, 4, 4)) + text_shape(7, "two"));
    const std::string table = table_frame(8, "<a:tr h=\"1\">" + cell(para("c")) + "</a:tr>");
    const struct {
        const char* label;
        std::string slide;
    } cases[] = {
        {"shapes, a group, a table and the probes",
         slide_with(text_shape(2, " padded &amp; more ", xfrm(1, 2, 3, 4)) + grouped + table,
                    "<p:transition/><p:timing/>")},
        // the slide pass reads this shape as a comment; the shape scan does not
        {"a shape inside a comment", slide_with("<!-- " + text_shape(2, "hidden") + " -->" + text_shape(3, "seen"))},
        // the shape's end tag is found inside a CDATA section, which the
        // slide pass reads past the shape's end
        {"an end tag inside CDATA",
         slide_with("<p:sp><p:txBody><a:p><a:r><a:t>a<![CDATA[</p:sp>]]></a:t></a:r></a:p></p:txBody></p:sp>" +
                    text_shape(3, "after"))},
        // the self-closing start counts as an opening, so the block runs on
        // past the end of the element around it, where a pass over the
        // block alone stops
        {"a block closing an element opened before it",
         slide_with("<a:w><p:sp/></a:w>" + para("z") + "</p:sp>" + text_shape(3, "after"))},
        {"a parse error after the first shape",
         slide_with(text_shape(2, "before") + "<a:x></a:y>" + text_shape(3, "after"))},
        {"a parse error inside a shape",
         slide_with("<p:sp><p:txBody><a:p><a:r><a:t>ok</a:t></a:r></a:p><a:p><a:t>no</a:r></a:p></p:txBody></p:sp>" +
                    text_shape(3, "after"))},
        {"text that is not UTF-8", slide_with(text_shape(2, "bad\xff") + text_shape(3, "ok"))},
        {"no shape tree", "<p:sld><a:t>loose</a:t></p:sld>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        expect_one_pass_agrees(c.slide);
    }
    // and the one pass is not trivially empty: children keep their place
    const std::string slide = cases[0].slide;
    LossyUtf8Text text(slide);
    SlideIndex index(text.view());
    auto both = extract_shapes_and_text(slide, text, index);
    ASSERT_EQ(both.shapes.size(), 3u);
    ASSERT_EQ(both.shapes[1].children.size(), 2u);
    EXPECT_EQ(both.shapes[1].children[0].effective_transform, (TransformSummary{12, 22, 4, 4}));
    EXPECT_EQ(both.text.texts, (Strings{"padded&more", "inner", "two", "c"}));
}

TEST(SummaryShapeTest, OnePassAgreesOnEveryCorpusSlide) {
    ZANDREL_REQUIRE_CORPUS();
    std::size_t slides = 0;
    for (const auto& deck : testing::valid_corpus_decks()) {
        auto archive = open_package(deck.string());
        ASSERT_TRUE(archive.ok()) << deck;
        auto parts = slide_parts(*archive);
        ASSERT_TRUE(parts.ok()) << deck;
        for (const auto& part : *parts) {
            auto bytes = read_archive_bytes(*archive, part);
            ASSERT_TRUE(bytes.ok() && bytes->has_value()) << deck << " " << part;
            SCOPED_TRACE(deck.string() + " " + part);
            expect_one_pass_agrees(**bytes);
            ++slides;
        }
    }
    EXPECT_GT(slides, 500u);
}

// What a scan of the slice alone gives, written out plainly.
std::vector<std::string> scanned_relationship_ids(std::string_view slice) {
    std::vector<std::string> ids;
    for (std::string_view pattern : {"r:embed=\"", "r:link=\"", "r:id=\""}) {
        for (auto at = slice.find(pattern); at != std::string_view::npos; at = slice.find(pattern, at + 1)) {
            auto value_end = slice.find('"', at + pattern.size());
            if (value_end == std::string_view::npos) break;
            ids.emplace_back(slice.substr(at + pattern.size(), value_end - at - pattern.size()));
        }
    }
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
}

std::vector<std::string_view> scanned_tables(std::string_view slice) {
    std::vector<std::string_view> tables;
    std::size_t position = 0;
    while (auto start = find_tag_start(slice, position, "a:tbl")) {
        auto tag_end = find_start_tag_end(slice, *start);
        auto end = tag_end && slice[*tag_end - 1] == '/' ? std::optional<std::size_t>(*tag_end + 1)
                                                         : find_element_end(slice, *start, "a:tbl");
        if (!end) break;
        tables.push_back(slice.substr(*start, *end - *start));
        position = *end;
    }
    return tables;
}

TEST(SummaryShapeTest, SlideIndexAnswersEverySliceAsAScanOfTheSliceWould) {
    const std::string text =
        "<x r:id=\"rId2\"><p:phx/><p:ph type=\"a\"/><c:chart r:embed=\"rId1\" r:link=\"rId1\"/>"
        "<a:tbl><a:tr><a:tc><a:t>1</a:t></a:tc></a:tr><a:tbl/></a:tbl><a:tblPr/><a:tbl/>"
        "<p:ph idx=\"2\"><a:tbl><a:tr><a:tc/></a:tr></a:tbl><p:ph\xC2\xA0idx=\"3\"/>xr:id=\"open";
    SlideIndex index(text);
    std::string_view view(text);
    for (std::size_t start = 0; start < view.size(); ++start) {
        for (std::size_t end = start + 1; end <= view.size(); ++end) {
            std::string_view slice = view.substr(start, end - start);
            ASSERT_EQ(index.placeholder_tag(slice), element_start_tag(slice, "p:ph")) << start << ".." << end;
            ASSERT_EQ(index.has_chart(slice), slice.find(":chart") != std::string_view::npos) << start << ".." << end;
            ASSERT_EQ(index.relationship_ids(slice), scanned_relationship_ids(slice)) << start << ".." << end;
            std::vector<TableSummary> expected;
            for (auto table : scanned_tables(slice)) expected.push_back(summarize_table(table));
            ASSERT_EQ(index.tables().extract_tables(slice), expected) << start << ".." << end;
        }
    }
}

TEST(SummaryShapeTest, JsonKeepsTheRecordOrder) {
    Json json = Json::parse(to_json_text(summarize_shape_block(text_shape(2, "x", xfrm(1, 2, 3, 4)))).text);
    std::vector<std::string> keys;
    for (auto it = json.begin(); it != json.end(); ++it) keys.push_back(it.key());
    EXPECT_EQ(keys, (Strings{"id", "name", "kind", "is_placeholder", "placeholder_type", "placeholder_idx", "text",
                             "paragraphs", "paragraph_runs", "paragraph_line_breaks", "paragraph_run_bold",
                             "paragraph_run_italic", "paragraph_run_underline", "paragraph_run_font_size",
                             "paragraph_run_font_name", "tables", "relationship_ids", "has_chart", "has_picture",
                             "has_group", "transform", "effective_transform", "children"}));
    EXPECT_EQ(json["transform"].dump(), R"({"x":1,"y":2,"cx":3,"cy":4})");
    EXPECT_EQ(json["placeholder_type"], nullptr);
    EXPECT_EQ(json["paragraph_run_bold"].dump(), "[[null]]");
}

}  // namespace
}  // namespace zandrel
