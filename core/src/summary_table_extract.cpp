#include "summary_table_extract.hpp"

#include <algorithm>
#include <optional>

#include "summary_text_extract.hpp"
#include "xml_tag_scan.hpp"

namespace zandrel {
namespace {

// The full texts of the `tag` elements in `text`, one after the other; the
// walk stops at the first start without an end. A self-closing element is
// complete in itself: merged-away cells are often written as
// `<a:tc hMerge="1"/>`, and counting one as an opening would swallow the
// rest of its row.
std::vector<std::string_view> element_texts(std::string_view text, std::string_view tag) {
    std::vector<std::string_view> elements;
    auto opening = PatternCursor::opening(text, tag);
    auto closing = PatternCursor::closing(text, tag);
    std::size_t position = 0;
    while (auto start = opening.next_from(position)) {
        auto tag_end = find_start_tag_end(text, *start);
        std::optional<std::size_t> end;
        if (tag_end && text[*tag_end - 1] == '/')
            end = *tag_end + 1;
        else
            end = find_element_end(opening, closing, *start);
        if (!end) break;
        elements.push_back(text.substr(*start, *end - *start));
        position = *end;
    }
    return elements;
}

std::string cell_text(std::string_view cell) {
    std::string text;
    bool first = true;
    for (auto& paragraph : extract_paragraph_texts(cell)) {
        if (!first) text.push_back('\n');
        text += paragraph;
        first = false;
    }
    return text;
}

}  // namespace

TableSummary summarize_table(std::string_view table) {
    TableSummary summary;
    for (std::string_view row : element_texts(table, "a:tr")) {
        auto& cells = summary.rows.emplace_back();
        for (std::string_view cell : element_texts(row, "a:tc")) cells.push_back(cell_text(cell));
        summary.col_count = std::max<std::uint64_t>(summary.col_count, cells.size());
    }
    summary.row_count = summary.rows.size();
    return summary;
}

std::vector<TableSummary> extract_tables(std::string_view bytes) {
    LossyUtf8Text text(bytes);
    return TableCache(text.view()).extract_tables(text.view());
}

std::vector<TableSummary> TableCache::extract_tables(std::string_view text) {
    std::vector<TableSummary> tables;
    for (std::string_view table : element_texts(text, "a:tbl")) tables.push_back(table_at(table));
    return tables;
}

const TableSummary& TableCache::table_at(std::string_view table) {
    std::pair<std::size_t, std::size_t> key{static_cast<std::size_t>(table.data() - slide_.data()), table.size()};
    auto found = tables_.find(key);
    if (found == tables_.end()) found = tables_.emplace(key, summarize_table(table)).first;
    return found->second;
}

}  // namespace zandrel
