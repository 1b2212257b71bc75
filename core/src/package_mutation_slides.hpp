// Adding a blank slide at the end of a presentation, and the registration of
// a new slide (number, presentation relationship, slide id, content type)
// that duplicating a slide shares.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "models.hpp"
#include "models_slides.hpp"
#include "package_content_types.hpp"
#include "package_writer.hpp"
#include "zip_reader.hpp"

namespace zandrel {

inline constexpr std::string_view slide_content_type =
    "application/vnd.openxmlformats-officedocument.presentationml.slide+xml";
inline constexpr std::string_view slide_relationship_type =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/slide";
inline constexpr std::string_view slide_layout_relationship_type =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/slideLayout";

// A slide registered at the end of the presentation, not yet written.
struct NewSlide {
    std::string slide_part;          // ppt/slides/slide{N}.xml
    std::string relationships_part;  // ppt/slides/_rels/slide{N}.xml.rels
    std::string relationship_id;     // of the presentation's new slide relationship
    std::uint64_t slide_id = 0;
    // rewritten to list the new slide
    std::string presentation_xml;
    std::string presentation_relationships;
    std::string content_types;

    // The three rewritten parts into the plan's replaced parts.
    void add_to(PackagePlan& plan);
};

// Registers a new slide after `slides` (the slide parts in order). Its number
// is one more than the largest slide number (1 when there is none), raised
// until neither the slide part nor its relationship part name is in `taken`;
// both names are added to `taken`. The presentation's relationship part gets
// the next "rId{n}" (strict reader) with the slide type and target
// "slides/slide{N}.xml"; the slide list gets the id of `next_slide_id`; the
// content-type map an Override for the slide unless it has one. Errors:
//   Zip "file not found: {name}" for a missing ppt/presentation.xml,
//     ppt/_rels/presentation.xml.rels or [Content_Types].xml; Io when one is
//     unreadable or not UTF-8 ("stream did not contain valid UTF-8");
//   InvalidInput "no slide number is left after 18446744073709551615";
//   errors of `next_relationship_id`, `next_slide_id`, `append_slide_id`,
//   `append_relationship` and `ensure_content_type_override`.
Result<NewSlide> register_new_slide(const ZipReader& archive, std::span<const std::string> slides,
                                    PartNameSet& taken);

// The Target "../slideLayouts/{name}" of layout `index` among the slide layout
// parts in natural name order. Zip when an entry cannot be opened; XmlText
// "slide layout index {index} was not found".
Result<std::string> slide_layout_target_at_index(const ZipReader& archive, std::uint64_t index);

// The new slide's XML: an empty shape tree holding `fragment`, the root
// declaring a, p, r and the extra (prefix, raw URI) namespaces.
std::string blank_slide_xml(std::string_view fragment,
                            std::span<const std::pair<std::string, std::string>> extra_namespaces = {});

// The new slide's relationship part: rId1, the slideLayout type, the target
// escaped with `xml_attr`.
std::string slide_layout_rels_xml(std::string_view layout_target);

// Appends a blank slide made from the layout at `layout_index` among the
// layout parts, or, without one, from the layout of the first slide (in
// presentation order) that has a slideLayout relationship. Its shape tree
// holds the layout's placeholders, emptied. Errors, in the order met:
//   Io for the output's folder; Io / Zip for the input;
//   XmlText "slide layout index {} was not found";
//   XmlText "no slide layout relationship found" (no slide has a layout
//     relationship, or the part it names does not exist);
//   errors of `register_new_slide` and `placeholder_shapes_from_layout`;
//   Io / Zip from writing the output.
Result<SlideAddSummary> add_blank_slide(const std::string& input_path, const std::string& output_path,
                                        std::optional<std::uint64_t> layout_index);

}  // namespace zandrel
