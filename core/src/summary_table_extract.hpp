// DrawingML tables as grids of cell texts, found by text scanning: a table is
// an `a:tbl` element, a row an `a:tr` inside it, a cell an `a:tc` inside a
// row. Merged-away cells are listed like any other, also when written as a
// self-closing element. A cell's text is its
// paragraph texts joined by line feeds (line breaks inside a paragraph as
// U+000B). An unterminated table, row or cell ends that walk quietly; nothing
// here fails.
#pragma once

#include <cstddef>
#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "models_summary.hpp"

namespace zandrel {

// Every table in the text, in document order; the bytes are read as UTF-8
// with U+FFFD for ill-formed sequences. The search resumes after each
// table's end, so a table inside a table is not listed on its own.
std::vector<TableSummary> extract_tables(std::string_view bytes);

// The summary of one `a:tbl` element's full text.
TableSummary summarize_table(std::string_view table);

// Table summaries over one slide text, each table's cells computed once
// however many shapes (a group and its child, the slide itself) list it.
// Every text passed in must be a slice of the slide text given at
// construction, which must outlive the cache.
class TableCache {
public:
    explicit TableCache(std::string_view slide) : slide_(slide) {}

    // `extract_tables` of a slice of the slide text (already UTF-8).
    std::vector<TableSummary> extract_tables(std::string_view text);

private:
    const TableSummary& table_at(std::string_view table);

    std::string_view slide_;
    std::map<std::pair<std::size_t, std::size_t>, TableSummary> tables_;
};

}  // namespace zandrel
