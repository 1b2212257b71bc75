// The streaming JSON text writer against nlohmann's dump(2) of the same value
// (layout, numbers, escapes, UTF-8 and its error messages), and the summary
// records written through it: every member in order, sibling and nested
// groups, nesting without call stack, and text that is not UTF-8.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "json_output.hpp"
#include "json_text_writer.hpp"
#include "models_summary.hpp"

namespace zandrel {
namespace {

constexpr auto i64_min = std::numeric_limits<std::int64_t>::min();
constexpr auto i64_max = std::numeric_limits<std::int64_t>::max();
constexpr auto u64_max = std::numeric_limits<std::uint64_t>::max();

// Sends a value tree through the writer part by part (recursive: test values
// are shallow).
void write_tree(JsonTextWriter& writer, const Json& value) {
    if (value.is_object()) {
        writer.begin_object();
        for (const auto& [key, member] : value.items()) {
            writer.key(key);
            write_tree(writer, member);
        }
        writer.end_object();
    } else if (value.is_array()) {
        writer.begin_array();
        for (const Json& element : value) write_tree(writer, element);
        writer.end_array();
    } else if (value.is_string()) {
        writer.string(value.get_ref<const std::string&>());
    } else if (value.is_boolean()) {
        writer.boolean(value.get<bool>());
    } else if (value.is_number_unsigned()) {
        writer.number(value.get<std::uint64_t>());
    } else if (value.is_number_integer()) {
        writer.number(value.get<std::int64_t>());
    } else {
        writer.null();
    }
}

JsonText written(const Json& value) {
    JsonTextWriter writer(16);
    write_tree(writer, value);
    return std::move(writer).finish();
}

JsonText dumped(const Json& value) {
    try {
        return {value.dump(2), std::nullopt};
    } catch (const nlohmann::json::type_error& error) {
        return {{}, error.what()};
    }
}

void expect_same_as_dump(const Json& value) {
    JsonText expected = dumped(value);
    JsonText actual = written(value);
    EXPECT_EQ(actual.text, expected.text);
    EXPECT_EQ(actual.error, expected.error);
}

std::string bytes_from(unsigned first, unsigned last) {
    std::string bytes;
    for (unsigned byte = first; byte <= last; ++byte) bytes += static_cast<char>(byte);
    return bytes;
}

TEST(JsonTextWriterTest, PrintsWhatDumpPrints) {
    const std::vector<std::pair<const char*, Json>> cases = {
        {"null", nullptr},
        {"true", true},
        {"false", false},
        {"zero", 0},
        {"negative", -1},
        {"int64 min", i64_min},
        {"int64 max", i64_max},
        {"uint64 max", u64_max},
        {"empty string", ""},
        {"short escapes", "q\"b\\s\bf\fn\nr\rt\t/'"},
        {"control bytes and DEL", bytes_from(0x00, 0x1F) + "\x7F"},
        {"printable ASCII", bytes_from(0x20, 0x7E)},
        {"non-ASCII as is", "\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xEF\xBF\xBF \xF4\x8F\xBF\xBF"},
        {"empty array", Json::array()},
        {"empty object", Json::object()},
        {"nested empties", Json::array({Json::array(), Json::object(), Json::array({Json::array()})})},
        {"array of scalars", Json::array({1, "x", false, nullptr, u64_max})},
        {"object of every kind",
         Json{{"a", 1},
              {"b", Json::array()},
              {"c", Json::object()},
              {"d", Json{{"e", nullptr}, {"f", Json::array({Json{{"g", "h"}}, Json::object()})}}},
              {"i", Json::array({Json::array({1, 2}), Json::array({Json::array({3})})})}}},
        {"escaped and empty keys", Json{{"k\"\\\n\x01", 1}, {"\xC3\xA9", "v"}, {"", Json::array({Json::object()})}}},
        {"invalid byte deep inside", Json{{"a", Json::array({"ok", "\n\xC3\xA9x\xFFy", "\xC3"})}}},
        {"string ending inside a character", Json::array({"ab\xE2\x82"})},
        {"invalid key", Json{{"ok", 1}, {"k\xC0\xAF", 2}}},
    };
    for (const auto& [label, value] : cases) {
        SCOPED_TRACE(label);
        expect_same_as_dump(value);
    }
}

// Every string of one and two bytes, and three- and four-byte strings made of
// the bytes at the limits of each lead byte's ranges, after a prefix with an
// escape, so the byte index of the error counts from the start of the string.
TEST(JsonTextWriterTest, AcceptsAndRejectsUtf8AsDumpDoes) {
    std::vector<std::string> strings;
    for (unsigned first = 0; first < 256; ++first) {
        strings.push_back(std::string(1, static_cast<char>(first)));
        for (unsigned second = 0; second < 256; ++second)
            strings.push_back({static_cast<char>(first), static_cast<char>(second)});
    }
    const std::vector<unsigned> leads = {0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5};
    const std::vector<unsigned> limits = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
    for (unsigned lead : leads)
        for (unsigned second : limits)
            for (unsigned third : limits) {
                std::string three{static_cast<char>(lead), static_cast<char>(second), static_cast<char>(third)};
                strings.push_back(three);
                for (unsigned fourth : limits) strings.push_back(three + static_cast<char>(fourth));
            }
    std::size_t mismatches = 0;
    for (const std::string& bytes : strings) {
        Json value = "a\tb" + bytes;
        JsonText expected = dumped(value);
        JsonText actual = written(value);
        if (actual.text != expected.text || actual.error != expected.error) {
            if (++mismatches <= 10)
                ADD_FAILURE() << testing::PrintToString(bytes) << ": " << actual.error.value_or(actual.text)
                              << " instead of " << expected.error.value_or(expected.text);
        }
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_GT(strings.size(), 80000u);
}

TEST(JsonTextWriterTest, FirstEncodingErrorWinsAndNoTextIsGiven) {
    JsonTextWriter writer;
    writer.begin_array();
    writer.string("fine");
    writer.string("x\xED\xA0\x80");  // an encoded surrogate
    writer.string("\xFF");
    writer.end_array();
    JsonText result = std::move(writer).finish();
    EXPECT_EQ(result.error, "[json.exception.type_error.316] invalid UTF-8 byte at index 2: 0xA0");
    EXPECT_EQ(result.text, "");
}

TransformSummary transform(std::int64_t base) { return {base, base + 1, base + 2, base + 3}; }

ShapeSummary shape(std::string id, std::string kind) {
    ShapeSummary summary;
    summary.id = std::move(id);
    summary.kind = std::move(kind);
    return summary;
}

// The tree a record stands for, built member by member as the JSON value.
Json transform_tree(const std::optional<TransformSummary>& t) {
    if (!t) return nullptr;
    return Json{{"x", t->x}, {"y", t->y}, {"cx", t->cx}, {"cy", t->cy}};
}

Json table_tree(const TableSummary& table) {
    return Json{{"rows", table.rows}, {"row_count", table.row_count}, {"col_count", table.col_count}};
}

Json shape_tree(const ShapeSummary& s) {
    Json tables = Json::array();
    for (const auto& table : s.tables) tables.push_back(table_tree(table));
    Json children = Json::array();
    for (const auto& child : s.children) children.push_back(shape_tree(child));
    return Json{{"id", s.id},
                {"name", s.name},
                {"kind", s.kind},
                {"is_placeholder", s.is_placeholder},
                {"placeholder_type", s.placeholder_type},
                {"placeholder_idx", s.placeholder_idx},
                {"text", s.text},
                {"paragraphs", s.paragraphs},
                {"paragraph_runs", s.paragraph_runs},
                {"paragraph_line_breaks", s.paragraph_line_breaks},
                {"paragraph_run_bold", s.paragraph_run_bold},
                {"paragraph_run_italic", s.paragraph_run_italic},
                {"paragraph_run_underline", s.paragraph_run_underline},
                {"paragraph_run_font_size", s.paragraph_run_font_size},
                {"paragraph_run_font_name", s.paragraph_run_font_name},
                {"tables", tables},
                {"relationship_ids", s.relationship_ids},
                {"has_chart", s.has_chart},
                {"has_picture", s.has_picture},
                {"has_group", s.has_group},
                {"transform", transform_tree(s.transform)},
                {"effective_transform", transform_tree(s.effective_transform)},
                {"children", children}};
}

Json relationships_tree(const std::vector<RelationshipSummary>& relationships) {
    Json list = Json::array();
    for (const auto& r : relationships)
        list.push_back(Json{{"id", r.id},
                            {"relationship_type", r.relationship_type},
                            {"target", r.target},
                            {"target_mode", r.target_mode}});
    return list;
}

Json slide_tree(const SlideSummary& slide) {
    Json shapes = Json::array();
    for (const auto& s : slide.shapes) shapes.push_back(shape_tree(s));
    Json tables = Json::array();
    for (const auto& table : slide.tables) tables.push_back(table_tree(table));
    return Json{{"part", slide.part},
                {"texts", slide.texts},
                {"shapes", shapes},
                {"tables", tables},
                {"notes", slide.notes},
                {"relationships", relationships_tree(slide.relationships)},
                {"image_relationships", relationships_tree(slide.image_relationships)},
                {"chart_relationships", relationships_tree(slide.chart_relationships)},
                {"comment_relationships", relationships_tree(slide.comment_relationships)},
                {"media_relationships", relationships_tree(slide.media_relationships)},
                {"ole_relationships", relationships_tree(slide.ole_relationships)},
                {"has_transition", slide.has_transition},
                {"has_timing", slide.has_timing}};
}

// A slide with every member set somewhere: a group whose first child is a
// group again, so children come out in order after a deeper sibling.
SlideSummary full_slide() {
    ShapeSummary text = shape("4", "shape");
    text.name = "Title \"1\"";
    text.is_placeholder = true;
    text.placeholder_type = "title";
    text.placeholder_idx = "0";
    text.text = "Caf\xC3\xA9\nline\ttwo";
    text.paragraphs = {"Caf\xC3\xA9", "line\ttwo"};
    text.paragraph_runs = {{"Caf\xC3\xA9"}, {"line", "\ttwo"}};
    text.paragraph_line_breaks = {{}, {1, u64_max}};
    text.paragraph_run_bold = {{true}, {false, std::nullopt}};
    text.paragraph_run_italic = {{std::nullopt}, {true, false}};
    text.paragraph_run_underline = {{false}, {std::nullopt, true}};
    text.paragraph_run_font_size = {{1800}, {i64_min, std::nullopt}};
    text.paragraph_run_font_name = {{"Arial"}, {std::nullopt, "\xE6\xA5\xB7"}};
    text.relationship_ids = {"rId2", "rId3"};
    text.transform = transform(i64_max - 3);
    text.effective_transform = transform(-7);

    ShapeSummary frame = shape("5", "graphic_frame");
    frame.tables = {{{{"a", ""}, {"b"}}, 2, 2}, {{}, 0, 0}};
    frame.has_chart = true;
    frame.has_picture = true;

    ShapeSummary inner = shape("3", "group");
    inner.has_group = true;
    inner.children.push_back(std::move(text));
    ShapeSummary outer = shape("2", "group");
    outer.has_group = true;
    outer.transform = transform(10);
    outer.children.push_back(std::move(inner));
    outer.children.push_back(std::move(frame));
    outer.children.push_back(shape("6", "picture"));

    SlideSummary slide;
    slide.part = "ppt/slides/slide1.xml";
    slide.texts = {"Caf\xC3\xA9", "a\\b"};
    slide.shapes.push_back(std::move(outer));
    slide.shapes.push_back(ShapeSummary{});
    slide.tables = {{{{"x"}}, 1, 1}};
    slide.notes = {"note"};
    slide.relationships = {{"rId1", "http://t/slideLayout", "../slideLayouts/slideLayout1.xml", std::nullopt},
                           {"rId9", "http://t/hyperlink", "http://example.com/?a=1&b=\"2\"", "External"}};
    slide.image_relationships = {{"rId2", "http://t/image", "../media/image1.png", std::nullopt}};
    slide.media_relationships = {{"rId4", "http://t/media", "file:///m.mp4", "External"}};
    slide.has_transition = true;
    return slide;
}

TEST(SummaryJsonTextTest, SlideIsWrittenAsItsValueTreeIsDumped) {
    SlideSummary slide = full_slide();
    JsonText text = to_json_text(slide);
    ASSERT_FALSE(text.error) << *text.error;
    EXPECT_EQ(text.text, slide_tree(slide).dump(2));

    PresentationSummary presentation{"/decks/a.pptx", 2, {slide, SlideSummary{}}, true};
    Json slides = Json::array({slide_tree(slide), slide_tree(SlideSummary{})});
    Json expected{{"path", "/decks/a.pptx"}, {"slide_count", 2}, {"slides", slides}, {"has_vba", true}};
    EXPECT_EQ(to_json_text(presentation).text, expected.dump(2));
    EXPECT_EQ(to_json_text(slide.shapes[0]).text, shape_tree(slide.shapes[0]).dump(2));
}

std::vector<JsonText> slide_texts_apart(const std::vector<SlideSummary>& slides) {
    std::vector<JsonText> texts;
    // a small reservation, so that the text must grow
    for (const SlideSummary& slide : slides) texts.push_back(slide_json_text_in_presentation(slide, 16));
    return texts;
}

TEST(SummaryJsonTextTest, SlidesWrittenApartMakeTheSameText) {
    PresentationSummary presentation{"/decks/a.pptx", 3, {full_slide(), SlideSummary{}, full_slide()}, false};
    const JsonText whole = to_json_text(presentation);
    ASSERT_FALSE(whole.error) << *whole.error;
    EXPECT_EQ(to_json_text(presentation, slide_texts_apart(presentation.slides)).text, whole.text);

    PresentationSummary empty{"/decks/none.pptx", 0, {}, true};
    EXPECT_EQ(to_json_text(empty, {}).text, to_json_text(empty).text);
}

TEST(SummaryJsonTextTest, FirstErrorInTextOrderWinsWhenSlidesAreWrittenApart) {
    auto slide_with_text = [](std::string text) {
        SlideSummary slide = full_slide();
        slide.texts.push_back(std::move(text));
        return slide;
    };
    struct Case {
        std::string path;
        std::vector<std::string> slide_texts;
        std::string error;
    };
    const std::vector<Case> cases = {
        {"/tmp/ab\xFF.pptx", {"x\xC3"}, "[json.exception.type_error.316] invalid UTF-8 byte at index 7: 0xFF"},
        {"/ok.pptx", {"fine", "x\xC3", "ab\xFF"}, "[json.exception.type_error.316] incomplete UTF-8 string; last byte: 0xC3"},
        {"/ok.pptx", {"ab\xFF", "x\xC3"}, "[json.exception.type_error.316] invalid UTF-8 byte at index 2: 0xFF"},
    };
    for (const Case& c : cases) {
        PresentationSummary presentation{c.path, c.slide_texts.size(), {}, false};
        for (const std::string& text : c.slide_texts) presentation.slides.push_back(slide_with_text(text));
        const JsonText apart = to_json_text(presentation, slide_texts_apart(presentation.slides));
        EXPECT_EQ(apart.error, c.error) << c.path;
        EXPECT_EQ(apart.text, "");
        EXPECT_EQ(to_json_text(presentation).error, c.error);
    }
}

// A small thread stack: a writer that recursed once per level would overrun
// it long before the innermost shape.
constexpr std::size_t small_stack = 16 * 1024;

struct WriteJob {
    const ShapeSummary* shape;
    JsonText result;
};

void* write_in_thread(void* job) {
    auto* write = static_cast<WriteJob*>(job);
    write->result = to_json_text(*write->shape);
    return nullptr;
}

TEST(SummaryJsonTextTest, NestedGroupsAreWrittenWithoutCallStack) {
    // the text grows with the square of the depth, by its indentation
    constexpr int depth = 1000;
    ShapeSummary root = shape("1", "shape");
    root.text = "core";
    for (int i = 0; i < depth; ++i) {
        ShapeSummary group = shape(std::to_string(i + 2), "group");
        group.children.push_back(std::move(root));
        root = std::move(group);
    }

    pthread_attr_t attributes;
    ASSERT_EQ(pthread_attr_init(&attributes), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attributes, small_stack), 0);
    WriteJob job{&root, {}};
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attributes, write_in_thread, &job), 0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    pthread_attr_destroy(&attributes);

    const JsonText& text = job.result;
    ASSERT_FALSE(text.error) << *text.error;
    // members of the innermost shape sit two spaces in, four more per level
    std::string innermost = "\n" + std::string(2 + 4 * depth, ' ') + "\"text\": \"core\",\n";
    EXPECT_NE(text.text.find(innermost), std::string::npos);
    Json parsed = Json::parse(text.text);
    EXPECT_EQ(parsed.dump(2), text.text);
    const Json* level = &parsed;
    for (int i = 0; i < depth; ++i) {
        ASSERT_EQ(level->at("id"), std::to_string(depth + 1 - i));
        ASSERT_EQ(level->at("children").size(), 1u);
        level = &level->at("children")[0];
    }
    EXPECT_EQ(level->at("kind"), "shape");
    EXPECT_EQ(level->at("children"), Json::array());
}

TEST(SummaryJsonTextTest, TextThatIsNotUtf8GivesTheWriterError) {
    PresentationSummary presentation{"/tmp/ab\xFF.pptx", 0, {}, false};
    JsonText bad_path = to_json_text(presentation);
    EXPECT_EQ(bad_path.error, "[json.exception.type_error.316] invalid UTF-8 byte at index 7: 0xFF");
    EXPECT_EQ(bad_path.text, "");

    SlideSummary slide = full_slide();
    slide.shapes[0].children[0].children[0].paragraph_run_font_name[1][1] = "\xE6\xA5";
    JsonText cut_name = to_json_text(slide);
    EXPECT_EQ(cut_name.error, "[json.exception.type_error.316] incomplete UTF-8 string; last byte: 0xA5");
    EXPECT_EQ(cut_name.text, "");
}

}  // namespace
}  // namespace zandrel
