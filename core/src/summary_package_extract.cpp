#include "summary_package_extract.hpp"

#include <array>
#include <utility>

#include "package_reader.hpp"
#include "package_relationships.hpp"
#include "package_slide_order.hpp"
#include "summary_shape_extract.hpp"
#include "summary_slide_walk.hpp"
#include "summary_table_extract.hpp"
#include "summary_text_extract.hpp"

namespace zandrel {
namespace {

constexpr std::array<std::string_view, 1> image_types = {"/image"};
constexpr std::array<std::string_view, 1> chart_types = {"/chart"};
constexpr std::array<std::string_view, 2> comment_types = {"/comments", "/comment"};
constexpr std::array<std::string_view, 3> media_types = {"/audio", "/media", "/video"};
constexpr std::array<std::string_view, 2> ole_types = {"/oleObject", "/package"};

}  // namespace

Result<std::vector<std::string>> read_notes(const ZipReader& archive, std::string_view slide_part,
                                            std::span<const RelationshipSummary> relationships) {
    constexpr std::string_view notes_type = "/notesSlide";
    for (const auto& relationship : relationships) {
        std::string_view type = relationship.relationship_type;
        if (type.size() <= 10 || !type.ends_with(notes_type)) continue;
        std::string notes_part = resolve_target(slide_part, relationship.target);
        // only the first notes relationship is consulted
        if (!archive.find(notes_part)) return std::vector<std::string>{};
        ZANDREL_TRY(auto bytes, read_archive_bytes(archive, notes_part));
        if (!bytes) return std::vector<std::string>{};
        return extract_text_runs(*bytes);
    }
    return std::vector<std::string>{};
}

Result<SlideSummary> summarize_slide(const ZipReader& archive, const std::string& slide_part) {
    ZANDREL_TRY(auto bytes, read_archive_bytes(archive, slide_part));
    if (!bytes) return ZandrelError::zip("file not found: " + slide_part);
    ZANDREL_TRY(auto relationships, read_relationships(archive, slide_part));
    ZANDREL_TRY(auto notes, read_notes(archive, slide_part, relationships));

    SlideSummary slide;
    slide.part = slide_part;
    slide.notes = std::move(notes);
    slide.image_relationships = relationships_by_type(relationships, image_types);
    slide.chart_relationships = relationships_by_type(relationships, chart_types);
    slide.comment_relationships = relationships_by_type(relationships, comment_types);
    slide.media_relationships = relationships_by_type(relationships, media_types);
    slide.ole_relationships = relationships_by_type(relationships, ole_types);
    slide.relationships = std::move(relationships);

    // The element scanners read UTF-8 text; the trimming text pass decodes
    // each piece itself and drops pieces that are not UTF-8.
    LossyUtf8Text text(*bytes);
    SlideIndex index(text.view());
    SlideShapesAndText content = extract_shapes_and_text(*bytes, text, index);
    slide.shapes = std::move(content.shapes);
    slide.tables = index.tables().extract_tables(text.view());
    slide.texts = std::move(content.text.texts);
    slide.has_transition = content.text.has_transition;
    slide.has_timing = content.text.has_timing;
    return slide;
}

namespace {

// A package opened for its presentation summary: its slide parts in
// presentation order, and the facts the presentation record holds besides.
struct OpenedPresentation {
    ZipReader archive;
    std::vector<std::string> slide_parts;
    PresentationSummary record;  // without slides
};

Result<OpenedPresentation> open_presentation(const std::string& path) {
    ZANDREL_TRY(ZipReader archive, open_package(path));
    // slide_parts opens every entry: one that cannot be opened fails the summary
    ZANDREL_TRY(auto parts, slide_parts(archive));
    PresentationSummary record;
    record.path = path;
    record.slide_count = parts.size();
    for (std::size_t i = 0; i < archive.entry_count(); ++i)
        if (part_kind(archive.entry(i).name) == PartKind::Vba) record.has_vba = true;
    return OpenedPresentation{std::move(archive), std::move(parts), std::move(record)};
}

// A slide's record is about as long as its XML and seldom twice as long; a
// close reservation spares the record's writer both growing and clearing
// unused space. The part was read whole already, so its size is true.
std::size_t expected_record_size(const ZipReader& reader, const std::string& slide_part) {
    const auto index = reader.find(slide_part);
    const std::uint64_t xml_size = index ? reader.entry(*index).uncompressed_size : 0;
    return static_cast<std::size_t>(xml_size + xml_size / 2) + 1024;
}

}  // namespace

Result<PresentationSummary> summarize_presentation(const std::string& path) {
    ZANDREL_TRY(OpenedPresentation opened, open_presentation(path));
    std::vector<SlideSummary> slides(opened.slide_parts.size());
    ZANDREL_CHECK(visit_slides_in_parallel(opened.archive, opened.slide_parts,
                                           [&](const ZipReader& reader, std::size_t position) -> Status {
        ZANDREL_TRY(slides[position], summarize_slide(reader, opened.slide_parts[position]));
        return {};
    }));
    opened.record.slides = std::move(slides);
    return std::move(opened.record);
}

Result<JsonText> summarize_presentation_json(const std::string& path) {
    ZANDREL_TRY(OpenedPresentation opened, open_presentation(path));
    std::vector<JsonText> slide_texts(opened.slide_parts.size());
    ZANDREL_CHECK(visit_slides_in_parallel(opened.archive, opened.slide_parts,
                                           [&](const ZipReader& reader, std::size_t position) -> Status {
        const std::string& part = opened.slide_parts[position];
        ZANDREL_TRY(SlideSummary slide, summarize_slide(reader, part));
        slide_texts[position] = slide_json_text_in_presentation(slide, expected_record_size(reader, part));
        return {};
    }));
    return to_json_text(opened.record, slide_texts);
}

Result<SlideSummary> summarize_slide_at_index(const std::string& path, std::uint64_t slide_index) {
    ZANDREL_TRY(ZipReader archive, open_package(path));
    ZANDREL_TRY(auto part, slide_part_at_index(archive, slide_index));
    if (!part) return ZandrelError::invalid_input("slide index " + std::to_string(slide_index) + " was not found");
    return summarize_slide(archive, *part);
}

}  // namespace zandrel
