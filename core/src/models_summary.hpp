// Records of the read-only summaries (presentation, slide, shape, table) and
// their JSON text, keys in declaration order, absent optionals as null.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "json_text_writer.hpp"
#include "models_relationships.hpp"

namespace zandrel {

// Offset and extent in EMU.
struct TransformSummary {
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::int64_t cx = 0;
    std::int64_t cy = 0;

    bool operator==(const TransformSummary&) const = default;
};

// The cell texts of one DrawingML table, row by row.
struct TableSummary {
    std::vector<std::vector<std::string>> rows;
    std::uint64_t row_count = 0;
    std::uint64_t col_count = 0;  // the most cells in any row

    bool operator==(const TableSummary&) const = default;
};

struct ShapeSummary {
    std::optional<std::string> id;    // raw, as written in p:cNvPr
    std::optional<std::string> name;  // raw, entity references not decoded
    std::string kind;
    bool is_placeholder = false;
    std::optional<std::string> placeholder_type;
    std::optional<std::string> placeholder_idx;
    std::string text;  // the paragraphs joined by line feeds
    std::vector<std::string> paragraphs;
    std::vector<std::vector<std::string>> paragraph_runs;
    std::vector<std::vector<std::uint64_t>> paragraph_line_breaks;
    std::vector<std::vector<std::optional<bool>>> paragraph_run_bold;
    std::vector<std::vector<std::optional<bool>>> paragraph_run_italic;
    std::vector<std::vector<std::optional<bool>>> paragraph_run_underline;
    std::vector<std::vector<std::optional<std::int64_t>>> paragraph_run_font_size;
    std::vector<std::vector<std::optional<std::string>>> paragraph_run_font_name;
    std::vector<TableSummary> tables;
    std::vector<std::string> relationship_ids;  // sorted byte-wise, no duplicates
    bool has_chart = false;
    bool has_picture = false;
    bool has_group = false;
    std::optional<TransformSummary> transform;            // as written in the shape
    std::optional<TransformSummary> effective_transform;  // in slide coordinates
    std::vector<ShapeSummary> children;                   // a group's direct children

    ShapeSummary() = default;
    ShapeSummary(const ShapeSummary&) = default;
    ShapeSummary(ShapeSummary&&) noexcept = default;
    ShapeSummary& operator=(const ShapeSummary&) = default;
    ShapeSummary& operator=(ShapeSummary&&) noexcept = default;
    // Releases nested children level by level, so a hostile file's deep
    // nesting cannot exhaust the stack here.
    ~ShapeSummary();

    bool operator==(const ShapeSummary&) const = default;
};

struct SlideSummary {
    std::string part;
    std::vector<std::string> texts;
    std::vector<ShapeSummary> shapes;
    std::vector<TableSummary> tables;
    std::vector<std::string> notes;
    std::vector<RelationshipSummary> relationships;
    std::vector<RelationshipSummary> image_relationships;
    std::vector<RelationshipSummary> chart_relationships;
    std::vector<RelationshipSummary> comment_relationships;
    std::vector<RelationshipSummary> media_relationships;
    std::vector<RelationshipSummary> ole_relationships;
    bool has_transition = false;
    bool has_timing = false;

    bool operator==(const SlideSummary&) const = default;
};

struct PresentationSummary {
    std::string path;
    std::uint64_t slide_count = 0;
    std::vector<SlideSummary> slides;
    bool has_vba = false;
};

// Pretty-printed JSON text of a record, written without building a value
// tree; nested groups are written level by level with an explicit stack, so
// deep nesting costs no call stack. The error is `JsonTextWriter`'s, for the
// first string that is not valid UTF-8.
JsonText to_json_text(const ShapeSummary& shape);
JsonText to_json_text(const SlideSummary& slide);
JsonText to_json_text(const PresentationSummary& presentation);

// One slide's record as the "slides" list of a presentation record holds
// it, so that slides can be written apart, e.g. on several threads;
// `expected_size` bytes are reserved for it.
JsonText slide_json_text_in_presentation(const SlideSummary& slide, std::size_t expected_size);
// The presentation record with `slide_texts`, made by that, as its slides,
// in order, instead of `presentation.slides`. The first error in the
// record's text order is the record's error.
JsonText to_json_text(const PresentationSummary& presentation, std::span<const JsonText> slide_texts);

}  // namespace zandrel
