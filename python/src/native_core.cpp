// Inspection, summaries, slide lifecycle and text entry points.
#include "entry_points.hpp"
#include "package_mutation_slide_delete.hpp"
#include "package_mutation_slide_duplicate.hpp"
#include "package_mutation_slides.hpp"
#include "package_reader.hpp"
#include "package_writer.hpp"
#include "summary_package_extract.hpp"
#include "text_rewrite_package.hpp"

namespace zandrel::python {
namespace {

Result<Json> build_info(const Arguments&) {
    // keys kept alphabetical, as a sorted map would give them
    return Json{{"build_profile", "release"},
                {"debug_assertions", false},
                {"package", "zandrel-py"},
                {"version", "0.1.0"}};
}

}  // namespace

std::span<const EntryPoint> native_core_entry_points() {
    using K = ParamKind;
    static const std::vector<EntryPoint> entries = {
        {"build_info_json", {}, build_info},
        {"inspect_package_json",
         {{"path", K::Path}},
         [](const Arguments& a) { return record_json(inspect_package(a.text(0))); }},
        {"summarize_presentation_json",
         {{"path", K::Path}},
         TextCall{[](const Arguments& a) { return summarize_presentation_json(a.text(0)); }}},
        {"summarize_slide_at_index_json",
         {{"path", K::Path}, {"slide_index", K::Unsigned}},
         TextCall{[](const Arguments& a) {
             return record_text(summarize_slide_at_index(a.text(0), a.unsigned_value(1)));
         }}},
        {"roundtrip_package_json",
         {{"input", K::Path}, {"output", K::Path}},
         [](const Arguments& a) { return record_json(roundtrip_package(a.text(0), a.text(1))); }},
        {"add_blank_slide_json",
         {{"input", K::Path}, {"output", K::Path}},
         [](const Arguments& a) { return record_json(add_blank_slide(a.text(0), a.text(1), std::nullopt)); }},
        {"add_blank_slide_with_layout_json",
         {{"input", K::Path}, {"output", K::Path}, {"layout_index", K::Unsigned}},
         [](const Arguments& a) {
             return record_json(add_blank_slide(a.text(0), a.text(1), a.unsigned_value(2)));
         }},
        {"duplicate_slide_json",
         {{"input", K::Path}, {"output", K::Path}, {"source_slide_part", K::Text}},
         [](const Arguments& a) { return record_json(duplicate_slide(a.text(0), a.text(1), a.text(2))); }},
        {"delete_slide_json",
         {{"input", K::Path}, {"output", K::Path}, {"target_slide_part", K::Text}},
         [](const Arguments& a) {
             const std::vector<std::string> targets{a.text(2)};
             return record_json(delete_slides(a.text(0), a.text(1), targets, std::nullopt));
         }},
        {"delete_slides_json",
         {{"input", K::Path},
          {"output", K::Path},
          {"target_slide_parts", K::TextList},
          {"ordered_survivor_parts", K::OptionalTextList, true}},
         [](const Arguments& a) {
             return record_json(delete_slides(a.text(0), a.text(1), a.text_list(2), a.optional_text_list(3)));
         }},
        {"replace_slide_text_json",
         {{"input", K::Path}, {"output", K::Path}, {"search", K::Text}, {"replacement", K::Text}},
         [](const Arguments& a) {
             return record_json(replace_slide_text_inner(a.text(0), a.text(1), std::nullopt, a.text(2), a.text(3)));
         }},
        {"replace_slide_text_at_index_json",
         {{"input", K::Path}, {"output", K::Path}, {"slide_index", K::Unsigned}, {"search", K::Text},
          {"replacement", K::Text}},
         [](const Arguments& a) {
             return record_json(
                 replace_slide_text_inner(a.text(0), a.text(1), a.unsigned_value(2), a.text(3), a.text(4)));
         }},
        {"replace_slide_text_run_at_index_json",
         {{"input", K::Path}, {"output", K::Path}, {"slide_index", K::Unsigned}, {"run_index", K::Unsigned},
          {"replacement", K::Text}},
         [](const Arguments& a) {
             return record_json(replace_slide_text_run_at_index(a.text(0), a.text(1), a.unsigned_value(2),
                                                                a.unsigned_value(3), a.text(4)));
         }},
        {"set_slide_shape_text_at_index_json",
         {{"input", K::Path}, {"output", K::Path}, {"slide_index", K::Unsigned}, {"shape_index", K::Unsigned},
          {"replacement", K::Text}},
         [](const Arguments& a) {
             return record_json(set_slide_shape_text_at_index(a.text(0), a.text(1), a.unsigned_value(2),
                                                              a.unsigned_value(3), a.text(4)));
         }},
        {"set_slide_shape_paragraph_text_at_index_json",
         {{"input", K::Path}, {"output", K::Path}, {"slide_index", K::Unsigned}, {"shape_index", K::Unsigned},
          {"paragraph_index", K::Unsigned}, {"replacement", K::Text}},
         [](const Arguments& a) {
             return record_json(set_slide_shape_paragraph_text_at_index(
                 a.text(0), a.text(1), a.unsigned_value(2), a.unsigned_value(3), a.unsigned_value(4), a.text(5)));
         }},
    };
    return entries;
}

}  // namespace zandrel::python
