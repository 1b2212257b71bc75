#include "text_rewrite_shape.hpp"

#include "text_rewrite_cursor.hpp"
#include "xml_chars.hpp"

namespace zandrel {
namespace {

// The streaming skeleton: `handle(reader, event, depth)` gets every event up
// to the end of input, with the reader's open depth after it, and writes
// whatever should stand in the event's place.
template <class Handle>
Status stream_slide(std::string_view slide, Handle handle) {
    XmlStreamReader reader(slide);
    for (;;) {
        ZANDREL_TRY(const XmlEvent event, reader.next());
        if (event.kind == XmlEventKind::EndOfInput) return {};
        ZANDREL_CHECK(handle(reader, event, reader.open_depth()));
    }
}

void write_appended_paragraph(XmlEventWriter& writer, std::string_view text) {
    writer.write_raw("<a:p>");
    write_text_run(writer, text);
    writer.write_raw("</a:p>");
}

bool is_end_of(const XmlEvent& event, std::string_view local_name) {
    return event.kind == XmlEventKind::EndElement && event.local_name() == local_name;
}

Result<SlideTextEdit> set_chosen_shape_text(std::string_view slide, ShapeChooser chooser,
                                            std::string_view replacement) {
    ZANDREL_CHECK(check_xml_text(replacement));
    XmlEventWriter writer(slide.size() + replacement.size() + 64);
    std::uint64_t count = 0;
    ZANDREL_CHECK(stream_slide(slide, [&](XmlStreamReader& reader, const XmlEvent& event,
                                          std::size_t depth) -> Status {
        const bool in_shape = chooser.step(event, depth);
        writer.write_event(event);
        if (in_shape && event.kind == XmlEventKind::StartElement && event.local_name() == "txBody") {
            ZANDREL_TRY(const std::uint64_t replaced,
                        rewrite_text_body_content(reader, writer, replacement));
            count += replaced;
        }
        return {};
    }));
    return finish_slide_edit(slide, writer, count);
}

// The paragraph setter; `group_rules` adds what the group-child variant does
// on top: filling an empty text element, and appending a paragraph when the
// index is one past the last.
Result<SlideTextEdit> set_chosen_paragraph_text(std::string_view slide, ShapeChooser chooser,
                                                std::uint64_t paragraph_index,
                                                std::string_view replacement, bool group_rules) {
    ZANDREL_CHECK(check_xml_text(replacement));
    XmlEventWriter writer(slide.size() + replacement.size() + 64);
    ElementCursor paragraph("p", paragraph_index);
    TextTargetWriter target(replacement, {.count_dropped_references = false,
                                          .fill_empty_elements = group_rules});
    std::uint64_t appended = 0;
    ZANDREL_CHECK(stream_slide(slide, [&](XmlStreamReader&, const XmlEvent& event,
                                          std::size_t depth) -> Status {
        if (!chooser.step(event, depth)) {
            writer.write_event(event);
            return {};
        }
        if (paragraph.step(event, depth) == ElementMark::Inside) {
            if (target.take(event, writer)) return {};
        } else if (group_rules && is_end_of(event, "txBody") && paragraph.count() == paragraph_index) {
            write_appended_paragraph(writer, replacement);
            ++appended;
        }
        writer.write_event(event);
        return {};
    }));
    return finish_slide_edit(slide, writer, target.count() + appended);
}

}  // namespace

Result<SlideTextEdit> set_shape_text_at_index_in_slide(std::string_view slide,
                                                       std::uint64_t shape_index,
                                                       std::string_view replacement) {
    return set_chosen_shape_text(slide, ShapeChooser::nth_shape(shape_index), replacement);
}

Result<SlideTextEdit> set_shape_paragraph_text_at_index_in_slide(std::string_view slide,
                                                                 std::uint64_t shape_index,
                                                                 std::uint64_t paragraph_index,
                                                                 std::string_view replacement) {
    return set_chosen_paragraph_text(slide, ShapeChooser::nth_shape(shape_index), paragraph_index,
                                     replacement, false);
}

Result<SlideTextEdit> append_shape_paragraph_text_in_slide(std::string_view slide,
                                                           std::uint64_t shape_index,
                                                           std::string_view text) {
    ZANDREL_CHECK(check_xml_text(text));
    XmlEventWriter writer(slide.size() + text.size() + 64);
    ShapeChooser chooser = ShapeChooser::nth_shape(shape_index);
    std::uint64_t count = 0;
    ZANDREL_CHECK(stream_slide(slide, [&](XmlStreamReader&, const XmlEvent& event,
                                          std::size_t depth) -> Status {
        if (chooser.step(event, depth) && is_end_of(event, "txBody")) {
            write_appended_paragraph(writer, text);
            ++count;
        }
        writer.write_event(event);
        return {};
    }));
    return finish_slide_edit(slide, writer, count);
}

Result<SlideTextEdit> append_shape_text_run_in_slide(std::string_view slide,
                                                     std::uint64_t shape_index,
                                                     std::uint64_t paragraph_index,
                                                     std::string_view text) {
    ZANDREL_CHECK(check_xml_text(text));
    XmlEventWriter writer(slide.size() + text.size() + 64);
    ShapeChooser chooser = ShapeChooser::nth_shape(shape_index);
    ElementCursor paragraph("p", paragraph_index);
    ParagraphTailHold hold(slide);
    std::uint64_t count = 0;
    ZANDREL_CHECK(stream_slide(slide, [&](XmlStreamReader&, const XmlEvent& event,
                                          std::size_t depth) -> Status {
        if (chooser.step(event, depth)) {
            const ElementMark mark = paragraph.step(event, depth);
            if (mark == ElementMark::Inside &&
                hold.offer(event, depth, paragraph.content_depth(), writer))
                return {};
            if (mark == ElementMark::End) {
                write_text_run(writer, text);
                hold.release(event.offset, writer);
                ++count;
            }
        }
        writer.write_event(event);
        return {};
    }));
    return finish_slide_edit(slide, writer, count);
}

Result<SlideTextEdit> insert_shape_paragraph_line_break_in_slide(std::string_view slide,
                                                                 std::uint64_t shape_index,
                                                                 std::uint64_t paragraph_index,
                                                                 std::uint64_t run_slot) {
    static constexpr std::string_view line_break = "<a:br/>";
    XmlEventWriter writer(slide.size() + 64);
    ShapeChooser chooser = ShapeChooser::nth_shape(shape_index);
    ElementCursor paragraph("p", paragraph_index, true);
    ParagraphTailHold hold(slide);
    std::uint64_t runs = 0;
    bool placed = false;
    const auto out_of_range = [] { return ZandrelError::invalid_input("run slot out of range"); };
    ZANDREL_CHECK(stream_slide(slide, [&](XmlStreamReader&, const XmlEvent& event,
                                          std::size_t depth) -> Status {
        if (!chooser.step(event, depth)) {
            writer.write_event(event);
            return {};
        }
        switch (paragraph.step(event, depth)) {
        case ElementMark::Empty:
            if (run_slot != 0) return out_of_range();
            // the end tag repeats the start tag's own qualified name, prefix and all
            writer.write_raw("<");
            writer.write_raw(event.name);
            writer.write_raw(event.attributes);
            writer.write_raw(">");
            writer.write_raw(line_break);
            writer.write_end(event.name);
            placed = true;
            return {};
        case ElementMark::End:
            if (!placed && run_slot != runs) return out_of_range();
            if (!placed) writer.write_raw(line_break);
            placed = true;
            hold.release(event.offset, writer);
            break;
        case ElementMark::Inside:
            if (hold.offer(event, depth, paragraph.content_depth(), writer)) return {};
            if (event.is_element_start() && event.local_name() == "r") {
                if (!placed && runs == run_slot) {
                    writer.write_raw(line_break);
                    placed = true;
                }
                ++runs;
            }
            break;
        default:
            break;
        }
        writer.write_event(event);
        return {};
    }));
    return finish_slide_edit(slide, writer, placed ? 1 : 0);
}

Result<SlideTextEdit> set_group_shape_child_text_in_slide(std::string_view slide,
                                                          std::uint64_t group_index,
                                                          std::uint64_t child_index,
                                                          std::string_view replacement) {
    return set_chosen_shape_text(slide, ShapeChooser::group_child(group_index, child_index),
                                 replacement);
}

Result<SlideTextEdit> set_group_shape_child_paragraph_text_in_slide(
    std::string_view slide, std::uint64_t group_index, std::uint64_t child_index,
    std::uint64_t paragraph_index, std::string_view replacement) {
    return set_chosen_paragraph_text(slide, ShapeChooser::group_child(group_index, child_index),
                                     paragraph_index, replacement, true);
}

Result<SlideTextEdit> set_group_shape_child_run_text_in_slide(
    std::string_view slide, std::uint64_t group_index, std::uint64_t child_index,
    std::uint64_t paragraph_index, std::uint64_t run_index, std::string_view replacement) {
    ZANDREL_CHECK(check_xml_text(replacement));
    XmlEventWriter writer(slide.size() + replacement.size() + 64);
    ShapeChooser chooser = ShapeChooser::group_child(group_index, child_index);
    ElementCursor paragraph("p", paragraph_index);
    ElementCursor run("r", run_index);
    ParagraphTailHold hold(slide);
    TextTargetWriter target(replacement, {.count_dropped_references = true,
                                          .fill_empty_elements = true});
    std::uint64_t appended = 0;
    ZANDREL_CHECK(stream_slide(slide, [&](XmlStreamReader&, const XmlEvent& event,
                                          std::size_t depth) -> Status {
        if (!chooser.step(event, depth)) {
            writer.write_event(event);
            return {};
        }
        const ElementMark mark = paragraph.step(event, depth);
        if (mark == ElementMark::End) {
            // one past the last run appends a run
            if (run.count() == run_index) {
                write_text_run(writer, replacement);
                ++appended;
            }
            hold.release(event.offset, writer);
        } else if (mark == ElementMark::Inside) {
            if (hold.offer(event, depth, paragraph.content_depth(), writer)) return {};
            if (run.step(event, depth) == ElementMark::Inside && target.take(event, writer))
                return {};
        }
        writer.write_event(event);
        return {};
    }));
    return finish_slide_edit(slide, writer, target.count() + appended);
}

}  // namespace zandrel
