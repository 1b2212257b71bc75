// Shared pieces of the text edits: the result of a slide-level rewrite, and
// the builders that write new runs and paragraphs (also used by the shape
// and table builders).
//
// New markup is compact and uses the `a` prefix for DrawingML; text is
// escaped with the five predefined entities.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "models.hpp"
#include "xml_event_writer.hpp"
#include "xml_tokenizer.hpp"

namespace zandrel {

// A slide part after a slide-level text edit, and how many places changed.
// A count of 0 means the part was left exactly as it was.
struct SlideTextEdit {
    std::string xml;
    std::uint64_t count = 0;
};

// The end of a slide-level rewrite: the written part and the count, or the
// input itself when nothing changed (so no end tag is even re-spaced).
SlideTextEdit finish_slide_edit(std::string_view part, XmlEventWriter& writer, std::uint64_t count);

// <a:r><a:t>{text}</a:t></a:r>: no run properties, so the run takes its
// formatting from the paragraph and list styles.
void write_text_run(XmlEventWriter& writer, std::string_view text);

// One <a:p> holding one `write_text_run` per line of the text, lines split at
// each line feed (a trailing line feed gives a last empty line, the empty text
// one empty line; carriage returns are kept as characters).
void write_replacement_paragraphs(XmlEventWriter& writer, std::string_view text);

// The paragraphs of `write_replacement_paragraphs` as a string. XmlText
// "paragraph text is not valid UTF-8" when the text is not UTF-8.
Result<std::string> replacement_paragraphs_xml(std::string_view text);

// Called right after a text body's start tag was read and written: drops
// every paragraph of the body (start-tag and self-closing forms), passes
// everything else (body properties, list styles) through, and writes the
// paragraphs of `text` just before the body's end tag, which it writes too.
// Returns the number of paragraphs dropped, at least 1.
// Errors: Xml for malformed XML; XmlText "unexpected end of XML while
// rewriting text body" when the input ends first, or "unexpected end of XML
// while skipping element" when it ends inside a paragraph.
Result<std::uint64_t> rewrite_text_body_content(XmlStreamReader& reader, XmlEventWriter& writer,
                                                std::string_view text);

}  // namespace zandrel
