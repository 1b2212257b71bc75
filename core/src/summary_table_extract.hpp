// DrawingML tables as grids of cell texts, found by text scanning: a table is
// an `a:tbl` element, a row an `a:tr` inside it, a cell an `a:tc` inside a
// row. Merged-away cells are listed like any other, also when written as a
// self-closing element. A cell's text is its paragraph texts joined by line
// feeds (line breaks inside a paragraph as U+000B). An unterminated table,
// row or cell ends that walk quietly; nothing here fails.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "models_summary.hpp"
#include "xml_tag_scan.hpp"

namespace zandrel {

// Every table in the text, in document order; the bytes are read as UTF-8
// with U+FFFD for ill-formed sequences. The search resumes after each
// table's end, so a table inside a table is not listed on its own.
std::vector<TableSummary> extract_tables(std::string_view bytes);

// The summary of one `a:tbl` element's full text.
TableSummary summarize_table(std::string_view table);

// The tables of one slide text, located once and each summarised at most
// once, however many slices of the slide (the slide itself, a group, its
// child) list them. The index (of the slide text, holding `a:tbl`) must
// outlive the cache.
class TableCache {
public:
    explicit TableCache(const TagIndex& index);

    // `extract_tables` of a slice of the slide text (already UTF-8): the
    // same tables a scan of the slice alone finds.
    std::vector<TableSummary> extract_tables(std::string_view slice);

private:
    struct Table {
        std::size_t start = 0;
        std::optional<std::size_t> end;  // just past the element, as found from the slide text
        std::optional<TableSummary> summary;
    };

    std::string_view slide_;
    std::vector<Table> tables_;  // every accepted `<a:tbl` start, in order
};

}  // namespace zandrel
