#include "package_mutation_slide_duplicate.hpp"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "output_file.hpp"
#include "package_content_types.hpp"
#include "package_mutation_slide_delete.hpp"
#include "package_mutation_slide_order.hpp"
#include "package_mutation_slides.hpp"
#include "package_reader.hpp"
#include "package_relationships.hpp"
#include "package_slide_order.hpp"
#include "package_writer.hpp"
#include "text_xml_helpers.hpp"
#include "xml_event_writer.hpp"

namespace zandrel {
namespace {

enum class CopyPolicy { Share, Chart, NotesSlide, Ole, Comment, Refuse };

bool ends_with_any(std::string_view text, std::initializer_list<std::string_view> suffixes) {
    return std::any_of(suffixes.begin(), suffixes.end(),
                       [&](std::string_view suffix) { return text.ends_with(suffix); });
}

CopyPolicy copy_policy(const RelationshipSummary& relationship) {
    if (is_external_relationship(relationship)) return CopyPolicy::Share;
    const std::string& type = relationship.relationship_type;
    if (type.size() < 6) return CopyPolicy::Refuse;
    if (ends_with_any(type, {"/slideLayout", "/image", "/audio", "/video", "/media"})) return CopyPolicy::Share;
    if (type.ends_with("/chart")) return CopyPolicy::Chart;
    if (type.ends_with("/notesSlide")) return CopyPolicy::NotesSlide;
    if (ends_with_any(type, {"/oleObject", "/package"})) return CopyPolicy::Ole;
    if (ends_with_any(type, {"/comments", "/comment"})) return CopyPolicy::Comment;
    return CopyPolicy::Refuse;
}

std::string_view policy_word(CopyPolicy policy) {
    switch (policy) {
        case CopyPolicy::Chart: return "chart";
        case CopyPolicy::NotesSlide: return "notes slide";
        case CopyPolicy::Ole: return "OLE";
        default: return "comment";
    }
}

std::string_view default_content_type(CopyPolicy policy) {
    switch (policy) {
        case CopyPolicy::Chart: return "application/vnd.openxmlformats-officedocument.drawingml.chart+xml";
        case CopyPolicy::NotesSlide:
            return "application/vnd.openxmlformats-officedocument.presentationml.notesSlide+xml";
        default: return "application/vnd.openxmlformats-officedocument.presentationml.comments+xml";
    }
}

// What the copy is being built into.
struct Duplication {
    const ZipReader& archive;
    PartNameSet taken;
    std::string content_types;
    std::vector<std::pair<std::string, std::string>> new_parts;  // written in this order

    // The next free name shaped like `model` whose relationship part name is
    // free as well, both reserved.
    std::string reserve_name(std::string_view model) {
        for (;;) {
            std::string name = next_free_numbered_part(taken, model);
            if (taken.insert(relationship_part_name(name)).second) return name;
        }
    }

    // A copied part's own relationship part, unchanged: the copy sits in the
    // same folder as its original, so relative targets still resolve.
    Status copy_relationship_part(std::string_view original, std::string_view copy) {
        ZANDREL_TRY(auto relationships, read_archive_bytes(archive, relationship_part_name(original)));
        if (relationships) new_parts.emplace_back(relationship_part_name(copy), std::move(*relationships));
        return {};
    }

    Status ensure_override(std::string_view part, std::string_view content_type) {
        ZANDREL_TRY(content_types, ensure_content_type_override(content_types, std::string("/").append(part), content_type));
        return {};
    }

    Status ensure_default(std::string_view extension, std::string_view content_type) {
        ZANDREL_TRY(content_types, ensure_default_content_type(content_types, extension, content_type));
        return {};
    }

    // A part a chart's relationship names, copied when it exists; its new
    // Target from the new chart, or none when it was not copied.
    Result<std::optional<std::string>> copy_chart_dependency(std::string_view chart, std::string_view new_chart,
                                                             const RelationshipSummary& relationship) {
        if (is_external_relationship(relationship)) return std::optional<std::string>{};
        const std::string original = resolve_target(chart, relationship.target);
        ZANDREL_TRY(auto bytes, read_archive_bytes(archive, original));
        if (!bytes) return std::optional<std::string>{};
        const std::string copy = reserve_name(original);
        ZANDREL_CHECK(copy_relationship_part(original, copy));
        new_parts.emplace_back(copy, std::move(*bytes));
        const std::string& type = relationship.relationship_type;
        if (auto override_type = find_content_type_override(content_types, original)) {
            ZANDREL_CHECK(ensure_override(copy, *override_type));
        } else if (copy.ends_with(".xlsx")) {
            ZANDREL_CHECK(ensure_default("xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"));
        } else if (ends_with_any(type, {"/chartColorStyle", "/chartcolorstyle", "/chartcolors"})) {
            ZANDREL_CHECK(ensure_override(copy, "application/vnd.ms-office.chartcolorstyle+xml"));
        } else if (ends_with_any(type, {"/chartStyle", "/chartstyle"})) {
            ZANDREL_CHECK(ensure_override(copy, "application/vnd.ms-office.chartstyle+xml"));
        }
        return std::optional<std::string>(make_relative_target(new_chart, copy));
    }

    Status copy_chart_relationships(std::string_view chart, std::string_view new_chart) {
        ZANDREL_TRY(auto relationships, read_archive_bytes(archive, relationship_part_name(chart)));
        if (!relationships) return {};
        ZANDREL_TRY(auto parsed, parse_relationships_strict(*relationships));
        TargetMap targets;
        for (const RelationshipSummary& relationship : parsed) {
            ZANDREL_TRY(auto target, copy_chart_dependency(chart, new_chart, relationship));
            if (target) targets.insert_or_assign(relationship.id, std::move(*target));
        }
        ZANDREL_TRY(std::string rewritten, rewrite_relationship_targets(*relationships, targets));
        new_parts.emplace_back(relationship_part_name(new_chart), std::move(rewritten));
        return {};
    }

    Status copy_notes_relationships(std::string_view notes, std::string_view new_notes, std::string_view new_slide) {
        ZANDREL_TRY(auto relationships, read_archive_bytes(archive, relationship_part_name(notes)));
        if (!relationships) return {};
        ZANDREL_TRY(auto parsed, parse_relationships_strict(*relationships));
        TargetMap targets;
        for (const RelationshipSummary& relationship : parsed)
            if (relationship.relationship_type.ends_with("/slide"))
                targets.insert_or_assign(relationship.id, make_relative_target(new_notes, new_slide));
        ZANDREL_TRY(std::string rewritten, rewrite_relationship_targets(*relationships, targets));
        new_parts.emplace_back(relationship_part_name(new_notes), std::move(rewritten));
        return {};
    }

    // Copies the part one slide relationship names; its new Target from the
    // new slide.
    Result<std::string> copy_slide_dependency(std::string_view slide, std::string_view new_slide,
                                              const RelationshipSummary& relationship, CopyPolicy policy) {
        const std::string original = resolve_target(slide, relationship.target);
        ZANDREL_TRY(auto bytes, read_archive_bytes(archive, original));
        if (!bytes)
            return ZandrelError::invalid_input(std::string(policy_word(policy)) + " part " + original +
                                               " was not found");
        const std::string copy = reserve_name(original);
        if (policy == CopyPolicy::Chart) {
            ZANDREL_CHECK(copy_chart_relationships(original, copy));
        } else if (policy == CopyPolicy::NotesSlide) {
            ZANDREL_CHECK(copy_notes_relationships(original, copy, new_slide));
        } else {
            ZANDREL_CHECK(copy_relationship_part(original, copy));
        }
        new_parts.emplace_back(copy, std::move(*bytes));

        const auto override_type = find_content_type_override(content_types, original);
        if (policy == CopyPolicy::Ole) {
            if (override_type) ZANDREL_CHECK(ensure_override(copy, *override_type));
            if (copy.ends_with(".bin"))
                ZANDREL_CHECK(ensure_default("bin", "application/vnd.openxmlformats-officedocument.oleObject"));
        } else {
            ZANDREL_CHECK(ensure_override(copy, override_type ? *override_type : default_content_type(policy)));
        }
        return make_relative_target(new_slide, copy);
    }
};

}  // namespace

Result<std::string> rewrite_relationship_targets(std::string_view relationships, const TargetMap& targets) {
    XmlStreamReader reader(relationships);
    XmlEventWriter writer(relationships.size() + 64);
    for (;;) {
        ZANDREL_TRY(XmlEvent event, reader.next());
        if (event.kind == XmlEventKind::EndOfInput) break;
        if (event.is_element_start() && event.local_name() == "Relationship") {
            auto target = targets.find(relationship_id(event));
            if (target != targets.end()) {
                const std::array<XmlAttributePatch, 1> patch{{{"Target", target->second}}};
                writer.write_rebuilt(event, rewrite_event_attributes(event, patch));
                continue;
            }
        }
        writer.write_event(event);
    }
    return writer.take_buffer();
}

Result<SlideAddSummary> duplicate_slide(const std::string& input_path, const std::string& output_path,
                                        const std::string& source_slide_part) {
    ZANDREL_CHECK(create_parent_directories(output_path));
    ZANDREL_TRY(ZipReader archive, open_package(input_path));
    ZANDREL_TRY(std::vector<std::string> slides, slide_parts(archive));
    if (std::find(slides.begin(), slides.end(), source_slide_part) == slides.end())
        return ZandrelError::invalid_input("source slide part " + source_slide_part +
                                           " was not found in the presentation");

    ZANDREL_TRY(std::string slide_bytes, read_required_part(archive, source_slide_part));
    ZANDREL_TRY(auto slide_relationships_text,
                read_archive_text(archive, relationship_part_name(source_slide_part)));
    const std::string slide_relationships = slide_relationships_text.value_or("");
    std::vector<RelationshipSummary> relationships;
    if (slide_relationships_text) {
        ZANDREL_TRY(relationships, parse_relationships_strict(slide_relationships));
    }

    auto layout = std::find_if(relationships.begin(), relationships.end(), [](const RelationshipSummary& r) {
        return r.relationship_type.size() >= 12 && r.relationship_type.ends_with("/slideLayout");
    });
    if (layout == relationships.end())
        return ZandrelError::invalid_input("source slide part " + source_slide_part +
                                           " has no slide layout relationship");
    for (const RelationshipSummary& relationship : relationships)
        if (copy_policy(relationship) == CopyPolicy::Refuse)
            return ZandrelError::invalid_input("cannot duplicate slide relationship type " +
                                               relationship.relationship_type +
                                               " without an explicit copy policy");

    Duplication copy{archive, {}, {}, {}};
    for (std::size_t i = 0; i < archive.entry_count(); ++i) copy.taken.insert(archive.entry(i).name);
    ZANDREL_TRY(NewSlide slide, register_new_slide(archive, slides, copy.taken));
    copy.content_types = std::move(slide.content_types);

    TargetMap slide_targets;
    for (const RelationshipSummary& relationship : relationships) {
        const CopyPolicy policy = copy_policy(relationship);
        if (policy == CopyPolicy::Share) continue;
        ZANDREL_TRY(std::string target, copy.copy_slide_dependency(source_slide_part, slide.slide_part,
                                                                   relationship, policy));
        slide_targets.insert_or_assign(relationship.id, std::move(target));
    }
    ZANDREL_TRY(std::string new_relationships, rewrite_relationship_targets(slide_relationships, slide_targets));

    PackagePlan plan;
    plan.mode = WriteMode::PatchAndAppend;
    slide.content_types = std::move(copy.content_types);
    slide.add_to(plan);
    plan.appended = std::move(copy.new_parts);
    plan.appended.emplace_back(slide.slide_part, std::move(slide_bytes));
    plan.appended.emplace_back(slide.relationships_part, std::move(new_relationships));
    ZANDREL_TRY(PackageFacts facts, write_package(archive, output_path, plan));

    return SlideAddSummary{output_path,      slide.slide_part, slide.relationship_id,
                           layout->target,   slide.slide_id,   slides.size() + 1,
                           facts.part_count, facts.has_vba};
}

}  // namespace zandrel
