#include "text_rewrite_package.hpp"

#include <functional>

#include "package_reader.hpp"
#include "package_slide_order.hpp"
#include "package_writer.hpp"
#include "text_rewrite_search.hpp"
#include "text_rewrite_shape.hpp"
#include "xml_chars.hpp"

namespace zandrel {
namespace {

using SlideEdit = std::function<Result<SlideTextEdit>(std::string_view slide)>;

struct PackageTextEdit {
    PackageFacts facts;
    std::uint64_t count = 0;
};

Status check_caller_texts(std::initializer_list<std::string_view> texts) {
    for (std::string_view text : texts) ZANDREL_CHECK(check_xml_text(text));
    return {};
}

ZandrelError slide_not_found(std::uint64_t slide_index) {
    return ZandrelError::invalid_input("slide index " + std::to_string(slide_index) +
                                       " was not found");
}

// Runs the edit on each named part and writes the package with the parts
// that changed.
Result<PackageTextEdit> edit_parts(const ZipReader& archive, const std::string& output,
                                   const std::vector<std::string>& parts, const SlideEdit& edit) {
    PackagePlan plan;
    plan.mode = WriteMode::ReEncode;
    std::uint64_t count = 0;
    for (const std::string& name : parts) {
        if (plan.replaced.contains(name)) continue;
        ZANDREL_TRY(std::optional<std::string> content, read_archive_bytes(archive, name));
        if (!content) continue;
        ZANDREL_TRY(SlideTextEdit edited, edit(*content));
        count += edited.count;
        if (edited.count > 0) plan.replaced.emplace(name, std::move(edited.xml));
    }
    ZANDREL_TRY(PackageFacts facts, write_package(archive, output, plan));
    return PackageTextEdit{facts, count};
}

Result<PackageTextEdit> edit_slide_at_index(const std::string& input, const std::string& output,
                                            std::uint64_t slide_index, const SlideEdit& edit) {
    ZANDREL_TRY(ZipReader archive, open_package(input));
    ZANDREL_TRY(std::optional<std::string> slide, slide_part_at_index(archive, slide_index));
    if (!slide) return slide_not_found(slide_index);
    return edit_parts(archive, output, {*slide}, edit);
}

}  // namespace

Result<TextReplacementSummary> replace_slide_text_inner(const std::string& input,
                                                        const std::string& output,
                                                        std::optional<std::uint64_t> slide_index,
                                                        std::string_view search,
                                                        std::string_view replacement) {
    ZANDREL_CHECK(check_caller_texts({search, replacement}));
    ZANDREL_TRY(ZipReader archive, open_package(input));
    std::vector<std::string> searched;
    if (slide_index) {
        ZANDREL_TRY(std::optional<std::string> slide, slide_part_at_index(archive, *slide_index));
        if (!slide) return slide_not_found(*slide_index);
        searched.push_back(std::move(*slide));
    } else {
        for (std::size_t i = 0; i < archive.entry_count(); ++i)
            if (is_slide_part(archive.entry(i).name)) searched.push_back(archive.entry(i).name);
    }
    // an empty search leaves every slide as it is, so none is even read
    if (search.empty()) searched.clear();
    ZANDREL_TRY(const PackageTextEdit edited,
                edit_parts(archive, output, searched, [&](std::string_view slide) {
                    return replace_text_nodes(slide, search, replacement);
                }));
    return TextReplacementSummary{output, edited.count, edited.facts.part_count,
                                  edited.facts.has_vba};
}

Result<TextReplacementSummary> replace_slide_text(const std::string& input,
                                                  const std::string& output,
                                                  std::string_view search,
                                                  std::string_view replacement) {
    return replace_slide_text_inner(input, output, std::nullopt, search, replacement);
}

Result<TextReplacementSummary> replace_slide_text_at_index(const std::string& input,
                                                           const std::string& output,
                                                           std::uint64_t slide_index,
                                                           std::string_view search,
                                                           std::string_view replacement) {
    return replace_slide_text_inner(input, output, slide_index, search, replacement);
}

Result<TextRunReplacementSummary> replace_slide_text_run_at_index(const std::string& input,
                                                                  const std::string& output,
                                                                  std::uint64_t slide_index,
                                                                  std::uint64_t run_index,
                                                                  std::string_view replacement) {
    ZANDREL_CHECK(check_caller_texts({replacement}));
    ZANDREL_TRY(const PackageTextEdit edited,
                edit_slide_at_index(input, output, slide_index, [&](std::string_view slide) {
                    return replace_text_run_at_index_in_slide(slide, run_index, replacement);
                }));
    return TextRunReplacementSummary{output, slide_index, run_index, edited.count,
                                     edited.facts.part_count, edited.facts.has_vba};
}

Result<ShapeTextSetSummary> set_slide_shape_text_at_index(const std::string& input,
                                                          const std::string& output,
                                                          std::uint64_t slide_index,
                                                          std::uint64_t shape_index,
                                                          std::string_view replacement) {
    ZANDREL_CHECK(check_caller_texts({replacement}));
    ZANDREL_TRY(const PackageTextEdit edited,
                edit_slide_at_index(input, output, slide_index, [&](std::string_view slide) {
                    return set_shape_text_at_index_in_slide(slide, shape_index, replacement);
                }));
    return ShapeTextSetSummary{output, slide_index, shape_index, edited.count,
                               edited.facts.part_count, edited.facts.has_vba};
}

Result<ParagraphTextSetSummary> set_slide_shape_paragraph_text_at_index(
    const std::string& input, const std::string& output, std::uint64_t slide_index,
    std::uint64_t shape_index, std::uint64_t paragraph_index, std::string_view replacement) {
    ZANDREL_CHECK(check_caller_texts({replacement}));
    ZANDREL_TRY(const PackageTextEdit edited,
                edit_slide_at_index(input, output, slide_index, [&](std::string_view slide) {
                    return set_shape_paragraph_text_at_index_in_slide(slide, shape_index,
                                                                      paragraph_index, replacement);
                }));
    return ParagraphTextSetSummary{output,       slide_index,
                                   shape_index,  paragraph_index,
                                   edited.count, edited.facts.part_count,
                                   edited.facts.has_vba};
}

}  // namespace zandrel
