// Position tracking shared by the slide-level text edits while they stream a
// slide: which element of a kind the reader is in, which shape an edit
// targets, how a paragraph's or run's text is replaced, and how markup
// appended to a paragraph stays before its end-of-paragraph properties.
//
// Every `step`/`offer` takes the event just read and `depth`, the reader's
// open depth after that event. None of these fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "xml_event_writer.hpp"
#include "xml_tokenizer.hpp"

namespace zandrel {

// Where an event lies relative to a cursor's chosen element.
enum class ElementMark { Outside, Start, Empty, Inside, End };

// Numbers the elements of one local name (any prefix) in document order from
// 0 and follows the reader into and out of the one with the chosen number.
// Start tags are numbered; self-closing tags only when `number_empty`.
class ElementCursor {
public:
    ElementCursor(std::string_view local_name, std::uint64_t chosen, bool number_empty = false)
        : local_name_(local_name), chosen_(chosen), number_empty_(number_empty) {}

    // A start is numbered only when `numbered` holds (callers restrict
    // numbering to direct children this way).
    ElementMark step(const XmlEvent& event, std::size_t depth, bool numbered = true);

    bool inside() const { return inside_; }
    // Elements numbered so far.
    std::uint64_t count() const { return count_; }
    // The open depth directly inside the chosen element (valid while inside):
    // its text and self-closing children sit at this depth, its child start
    // tags one deeper.
    std::size_t content_depth() const { return content_depth_; }

private:
    std::string_view local_name_;
    std::uint64_t chosen_;
    bool number_empty_;
    std::uint64_t count_ = 0;
    bool inside_ = false;
    std::size_t content_depth_ = 0;
};

// The `sp` element a shape edit works on: the n-th `sp` of the slide (those in
// groups included), or the n-th `sp` that is a direct child of the n-th
// `grpSp` (groups numbered over the whole slide, nested ones included).
class ShapeChooser {
public:
    static ShapeChooser nth_shape(std::uint64_t shape_index);
    static ShapeChooser group_child(std::uint64_t group_index, std::uint64_t child_index);

    // True while the event lies in the chosen shape: its start tag and
    // content, not its end tag.
    bool step(const XmlEvent& event, std::size_t depth);

private:
    ShapeChooser(std::optional<ElementCursor> group, ElementCursor shape)
        : group_(group), shape_(shape) {}

    std::optional<ElementCursor> group_;
    ElementCursor shape_;
};

// Makes the replacement the whole text of one paragraph or run (the target).
// The first text piece inside a `t` element becomes the replacement; a
// reference met before any text piece takes the replacement in its place, so
// text made only of references is not lost; every later piece and reference
// is dropped. Each piece handled counts 1, and so does the reference that
// took the replacement.
class TextTargetWriter {
public:
    struct Rules {
        bool count_dropped_references = false;  // dropped references count 1 each too
        bool fill_empty_elements = false;  // a `t` still empty at its end tag receives
                                           // the replacement if none was written yet
    };

    TextTargetWriter(std::string_view replacement, Rules rules)
        : replacement_(replacement), rules_(rules) {}

    // For each event inside the target. True when the event was dealt with
    // (written anew or dropped); false leaves it to the caller to write.
    bool take(const XmlEvent& event, XmlEventWriter& writer);

    std::uint64_t count() const { return count_; }

private:
    void write_once(XmlEventWriter& writer);

    std::string_view replacement_;
    Rules rules_;
    bool inside_text_ = false;
    bool written_ = false;
    std::uint64_t count_ = 0;
};

// Holds back a paragraph's `endParaRPr` (and whitespace after it) from the
// writer until the next event shows whether it is the paragraph's last child,
// so that a run or break appended at the paragraph's end can go before it, as
// the schema wants. Held bytes are written later exactly as they were read.
class ParagraphTailHold {
public:
    explicit ParagraphTailHold(std::string_view part) : part_(part) {}

    // For each event inside the paragraph, its own end tag excluded;
    // `content_depth` is the paragraph's (see `ElementCursor`). Returns true when the
    // event was held back (the caller writes nothing); otherwise anything held
    // has been written and the caller handles the event as usual.
    bool offer(const XmlEvent& event, std::size_t depth, std::size_t content_depth,
               XmlEventWriter& writer);
    // At the paragraph's end tag, after any appended markup: writes what is
    // held, up to `end_offset` (the end tag's offset).
    void release(std::size_t end_offset, XmlEventWriter& writer);

private:
    std::string_view part_;
    std::optional<std::size_t> held_from_;
    bool held_open_ = false;  // the held element's end tag is still to come
};

// Whether the event is a start or end tag of a `t` element (any prefix).
bool is_text_element_tag(const XmlEvent& event);

}  // namespace zandrel
