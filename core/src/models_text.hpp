// Result records of the text edits: search and replace, and setting the text
// of a shape, a paragraph or a single text piece.
#pragma once

#include <cstdint>
#include <string>

#include "json_output.hpp"

namespace zandrel {

struct TextReplacementSummary {
    std::string path;
    std::uint64_t replacements = 0;
    std::uint64_t part_count = 0;
    bool has_vba = false;
};

struct TextRunReplacementSummary {
    std::string path;
    std::uint64_t slide_index = 0;
    std::uint64_t run_index = 0;
    std::uint64_t replacements = 0;
    std::uint64_t part_count = 0;
    bool has_vba = false;
};

struct ShapeTextSetSummary {
    std::string path;
    std::uint64_t slide_index = 0;
    std::uint64_t shape_index = 0;
    std::uint64_t replacements = 0;
    std::uint64_t part_count = 0;
    bool has_vba = false;
};

struct ParagraphTextSetSummary {
    std::string path;
    std::uint64_t slide_index = 0;
    std::uint64_t shape_index = 0;
    std::uint64_t paragraph_index = 0;
    std::uint64_t replacements = 0;
    std::uint64_t part_count = 0;
    bool has_vba = false;
};

void to_json(Json& out, const TextReplacementSummary& summary);
void to_json(Json& out, const TextRunReplacementSummary& summary);
void to_json(Json& out, const ShapeTextSetSummary& summary);
void to_json(Json& out, const ParagraphTextSetSummary& summary);

}  // namespace zandrel
