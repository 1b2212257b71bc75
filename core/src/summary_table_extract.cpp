#include "summary_table_extract.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

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
    constexpr std::array<std::string_view, 1> tags = {"a:tbl"};
    TagIndex index(text.view(), tags);
    return TableCache(index).extract_tables(text.view());
}

TableCache::TableCache(const TagIndex& index) : slide_(index.text()) {
    const std::size_t size = slide_.size();
    for (auto start = index.find_tag_start("a:tbl", 0, size); start;
         start = index.find_tag_start("a:tbl", *start + 1, size)) {
        Table table{*start, std::nullopt, std::nullopt};
        auto tag_end = find_start_tag_end(slide_, *start);
        if (tag_end && slide_[*tag_end - 1] == '/')
            table.end = *tag_end + 1;
        else
            table.end = index.find_element_end("a:tbl", *start, size);
        tables_.push_back(std::move(table));
    }
}

// The walk of `element_texts` over the slice, answered from the slide's
// tables: an end found in the slide text lies inside the slice exactly when
// a scan of the slice alone would find it, since both count the same
// openings and closings up to there.
std::vector<TableSummary> TableCache::extract_tables(std::string_view slice) {
    std::vector<TableSummary> found;
    std::size_t position = static_cast<std::size_t>(slice.data() - slide_.data());
    const std::size_t slice_end = position + slice.size();
    auto next = std::lower_bound(tables_.begin(), tables_.end(), position,
                                 [](const Table& table, std::size_t at) { return table.start < at; });
    for (; next != tables_.end() && next->start < slice_end; ++next) {
        if (next->start < position) continue;  // inside the table just listed
        if (!next->end || *next->end > slice_end) break;
        if (!next->summary) next->summary = summarize_table(slide_.substr(next->start, *next->end - next->start));
        found.push_back(*next->summary);
        position = *next->end;
    }
    return found;
}

}  // namespace zandrel
