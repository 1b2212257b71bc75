#include "package_mutation_slides.hpp"

#include <algorithm>

#include "output_file.hpp"
#include "package_mutation_slide_order.hpp"
#include "package_reader.hpp"
#include "package_relationships.hpp"
#include "package_slide_order.hpp"
#include "xml_placeholder_builders.hpp"
#include "xml_tag_scan.hpp"

namespace zandrel {
namespace {

constexpr std::string_view xml_declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>";

std::string slide_part_name(std::uint64_t number) {
    return "ppt/slides/slide" + std::to_string(number) + ".xml";
}

Result<std::uint64_t> next_slide_number(std::span<const std::string> slides, const PartNameSet& taken) {
    std::uint64_t largest = 0;
    for (const std::string& slide : slides)
        if (auto number = slide_number(slide)) largest = std::max(largest, *number);
    for (std::uint64_t number = largest;;) {
        if (number == UINT64_MAX)
            return ZandrelError::invalid_input("no slide number is left after 18446744073709551615");
        ++number;
        const std::string name = slide_part_name(number);
        // a leftover relationship part must not be adopted by the new slide
        if (!taken.contains(name) && !taken.contains(relationship_part_name(name))) return number;
    }
}

// The layout Target of the first slide that has a slideLayout relationship,
// provided the part it names exists.
Result<std::string> default_layout_target(const ZipReader& archive, std::span<const std::string> slides) {
    const ZandrelError not_found = ZandrelError::xml_text("no slide layout relationship found");
    for (const std::string& slide : slides) {
        ZANDREL_TRY(auto relationships, read_relationships_in_document_order(archive, slide));
        for (const RelationshipSummary& relationship : relationships) {
            const std::string& type = relationship.relationship_type;
            if (type.size() < 12 || !type.ends_with("/slideLayout")) continue;
            if (!archive.find(resolve_target(slide, relationship.target))) return not_found;
            return relationship.target;
        }
    }
    return not_found;
}

}  // namespace

Result<NewSlide> register_new_slide(const ZipReader& archive, std::span<const std::string> slides,
                                    PartNameSet& taken) {
    ZANDREL_TRY(std::uint64_t number, next_slide_number(slides, taken));
    NewSlide slide;
    slide.slide_part = slide_part_name(number);
    slide.relationships_part = relationship_part_name(slide.slide_part);
    taken.insert(slide.slide_part);
    taken.insert(slide.relationships_part);

    ZANDREL_TRY(std::string presentation, read_required_text(archive, presentation_part_name));
    ZANDREL_TRY(std::string relationships, read_required_text(archive, presentation_relationships_part_name));
    ZANDREL_TRY(std::string content_types, read_required_text(archive, content_types_part));

    ZANDREL_TRY(slide.relationship_id, next_relationship_id(relationships));
    ZANDREL_TRY(slide.slide_id, next_slide_id(presentation));
    ZANDREL_TRY(slide.presentation_xml, append_slide_id(presentation, slide.slide_id, slide.relationship_id));
    ZANDREL_TRY(slide.presentation_relationships,
                append_relationship(relationships, slide.relationship_id, slide_relationship_type,
                                    "slides/slide" + std::to_string(number) + ".xml"));
    ZANDREL_TRY(slide.content_types,
                ensure_content_type_override(content_types, "/" + slide.slide_part, slide_content_type));
    return slide;
}

void NewSlide::add_to(PackagePlan& plan) {
    plan.replaced.insert_or_assign(std::string(content_types_part), std::move(content_types));
    plan.replaced.insert_or_assign(std::string(presentation_part_name), std::move(presentation_xml));
    plan.replaced.insert_or_assign(std::string(presentation_relationships_part_name),
                                   std::move(presentation_relationships));
}

Result<std::string> slide_layout_target_at_index(const ZipReader& archive, std::uint64_t index) {
    ZANDREL_TRY(std::vector<std::string> names, list_part_names(archive));
    std::vector<std::pair<NaturalKey, std::string>> layouts;
    for (std::string& name : names)
        if (is_slide_layout_part(name)) layouts.emplace_back(natural_key(name), std::move(name));
    std::stable_sort(layouts.begin(), layouts.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    if (index >= layouts.size())
        return ZandrelError::xml_text("slide layout index " + std::to_string(index) + " was not found");
    const std::string& name = layouts[static_cast<std::size_t>(index)].second;
    return "../slideLayouts/" + name.substr(name.rfind('/') + 1);
}

std::string blank_slide_xml(std::string_view fragment,
                            std::span<const std::pair<std::string, std::string>> extra_namespaces) {
    std::string xml(xml_declaration);
    xml += "\n<p:sld xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
           "xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\" "
           "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";
    for (const auto& [prefix, uri] : extra_namespaces) xml += " xmlns:" + prefix + "=\"" + uri + "\"";
    xml += ">\n"
           "  <p:cSld>\n"
           "    <p:spTree>\n"
           "      <p:nvGrpSpPr><p:cNvPr id=\"1\" name=\"\"/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr>\n"
           "      <p:grpSpPr/>\n"
           "      ";
    xml += fragment;
    xml += "\n"
           "    </p:spTree>\n"
           "  </p:cSld>\n"
           "  <p:clrMapOvr><a:masterClrMapping/></p:clrMapOvr>\n"
           "</p:sld>\n";
    return xml;
}

std::string slide_layout_rels_xml(std::string_view layout_target) {
    std::string xml(xml_declaration);
    xml += "\n<Relationships xmlns=\"";
    xml += package_relationships_namespace;
    xml += "\"><Relationship Id=\"rId1\" Type=\"";
    xml += slide_layout_relationship_type;
    xml += "\" Target=\"" + xml_attr(layout_target) + "\"/></Relationships>\n";
    return xml;
}

Result<SlideAddSummary> add_blank_slide(const std::string& input_path, const std::string& output_path,
                                        std::optional<std::uint64_t> layout_index) {
    ZANDREL_CHECK(create_parent_directories(output_path));
    ZANDREL_TRY(ZipReader archive, open_package(input_path));
    ZANDREL_TRY(std::vector<std::string> slides, slide_parts(archive));

    std::string layout_target;
    if (layout_index) {
        ZANDREL_TRY(layout_target, slide_layout_target_at_index(archive, *layout_index));
    } else {
        ZANDREL_TRY(layout_target, default_layout_target(archive, slides));
    }

    PartNameSet taken;
    for (std::size_t i = 0; i < archive.entry_count(); ++i) taken.insert(archive.entry(i).name);
    ZANDREL_TRY(NewSlide slide, register_new_slide(archive, slides, taken));
    ZANDREL_TRY(LayoutPlaceholders placeholders,
                placeholder_shapes_from_layout(archive, slide.slide_part, layout_target));

    PackagePlan plan;
    plan.mode = WriteMode::PatchAndAppend;
    slide.add_to(plan);
    plan.appended.emplace_back(slide.slide_part, blank_slide_xml(placeholders.shapes, placeholders.namespaces));
    plan.appended.emplace_back(slide.relationships_part, slide_layout_rels_xml(layout_target));
    ZANDREL_TRY(PackageFacts facts, write_package(archive, output_path, plan));

    return SlideAddSummary{output_path,        slide.slide_part, slide.relationship_id,
                           layout_target,      slide.slide_id,   slides.size() + 1,
                           facts.part_count,   facts.has_vba};
}

}  // namespace zandrel
