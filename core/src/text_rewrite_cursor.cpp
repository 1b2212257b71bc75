#include "text_rewrite_cursor.hpp"

namespace zandrel {
namespace {

bool is_xml_whitespace(std::string_view text) {
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return false;
    return true;
}

}  // namespace

ElementMark ElementCursor::step(const XmlEvent& event, std::size_t depth, bool numbered) {
    if (inside_ && event.kind == XmlEventKind::EndElement && depth + 1 == content_depth_) {
        inside_ = false;
        return ElementMark::End;
    }
    const bool start = event.kind == XmlEventKind::StartElement ||
                       (number_empty_ && event.kind == XmlEventKind::EmptyElement);
    if (numbered && start && event.local_name() == local_name_) {
        // elements of the same name inside the chosen one are numbered too
        // (a group nested in the chosen group), but never chosen
        const bool chosen = count_++ == chosen_ && !inside_;
        if (chosen && event.kind == XmlEventKind::EmptyElement) return ElementMark::Empty;
        if (chosen) {
            inside_ = true;
            content_depth_ = depth;
            return ElementMark::Start;
        }
    }
    return inside_ ? ElementMark::Inside : ElementMark::Outside;
}

ShapeChooser ShapeChooser::nth_shape(std::uint64_t shape_index) {
    return ShapeChooser(std::nullopt, ElementCursor("sp", shape_index));
}

ShapeChooser ShapeChooser::group_child(std::uint64_t group_index, std::uint64_t child_index) {
    return ShapeChooser(ElementCursor("grpSp", group_index), ElementCursor("sp", child_index));
}

bool ShapeChooser::step(const XmlEvent& event, std::size_t depth) {
    bool direct_child = true;
    if (group_) {
        if (group_->step(event, depth) != ElementMark::Inside) return false;
        direct_child = depth == group_->content_depth() + 1;
    }
    const ElementMark mark = shape_.step(event, depth, direct_child);
    return mark == ElementMark::Start || mark == ElementMark::Inside;
}

void TextTargetWriter::write_once(XmlEventWriter& writer) {
    writer.write_text(replacement_);
    written_ = true;
    ++count_;
}

bool TextTargetWriter::take(const XmlEvent& event, XmlEventWriter& writer) {
    if (is_text_element_tag(event)) {
        if (event.kind == XmlEventKind::EndElement && rules_.fill_empty_elements && !written_)
            write_once(writer);
        inside_text_ = event.kind == XmlEventKind::StartElement;
        return false;
    }
    if (!inside_text_) return false;
    if (event.kind == XmlEventKind::Text) {
        if (written_)
            ++count_;
        else
            write_once(writer);
        return true;
    }
    if (event.is_reference()) {
        if (!written_)
            write_once(writer);
        else if (rules_.count_dropped_references)
            ++count_;
        return true;
    }
    return false;
}

bool ParagraphTailHold::offer(const XmlEvent& event, std::size_t depth, std::size_t content_depth,
                              XmlEventWriter& writer) {
    if (held_from_) {
        if (held_open_) {
            if (event.kind == XmlEventKind::EndElement && depth == content_depth) held_open_ = false;
            return true;
        }
        if (event.kind == XmlEventKind::Text && is_xml_whitespace(event.content)) return true;
        release(event.offset, writer);
    }
    const bool direct_child = event.kind == XmlEventKind::StartElement ? depth == content_depth + 1
                                                                       : depth == content_depth;
    if (event.is_element_start() && direct_child && event.local_name() == "endParaRPr") {
        held_from_ = event.offset;
        held_open_ = event.kind == XmlEventKind::StartElement;
        return true;
    }
    return false;
}

void ParagraphTailHold::release(std::size_t end_offset, XmlEventWriter& writer) {
    if (!held_from_) return;
    writer.write_raw(part_.substr(*held_from_, end_offset - *held_from_));
    held_from_.reset();
    held_open_ = false;
}

bool is_text_element_tag(const XmlEvent& event) {
    return (event.kind == XmlEventKind::StartElement || event.kind == XmlEventKind::EndElement) &&
           event.local_name() == "t";
}

}  // namespace zandrel
