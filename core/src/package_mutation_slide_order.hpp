// The presentation's slide list: finding it, choosing and appending slide ids,
// reordering its entries, and the text splicing the slide operations share.
//
// The slide list is the `sldIdLst` element (any prefix) that is a direct child
// of the root element. The PowerPoint 2010 section lists inside the extension
// list reuse the element names `sldIdLst` and `sldId`, and are never taken for
// the slide list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "models.hpp"
#include "xml_tokenizer.hpp"
#include "zip_reader.hpp"

namespace zandrel {

inline constexpr std::string_view presentation_part_name = "ppt/presentation.xml";
inline constexpr std::string_view presentation_relationships_part_name =
    "ppt/_rels/presentation.xml.rels";

// Slide ids the schema allows.
inline constexpr std::uint64_t min_slide_id = 256;
inline constexpr std::uint64_t max_slide_id = 2147483647;

// A part every slide operation needs. Zip "file not found: {name}" when the
// entry is absent, Zip when it cannot be opened, Io when it cannot be read.
Result<std::string> read_required_part(const ZipReader& archive, std::string_view name);

// `read_required_part` of a part that is edited as text and written back: it
// must be UTF-8 (Io "stream did not contain valid UTF-8"), never decoded
// lossily.
Result<std::string> read_required_text(const ZipReader& archive, std::string_view name);

// The numeric `id` attribute of a `sldId` element (of the slide list or of a
// section), unescaped and parsed as an unsigned decimal; none otherwise.
std::optional<std::uint64_t> slide_id_attribute(const XmlEvent& event);

// One entry of the slide list: the whole `sldId` element.
struct SlideIdEntry {
    std::size_t start = 0;  // "<" of its start tag
    std::size_t end = 0;    // one past its end
    std::string relationship_id;    // `extract_rel_id_from_attributes`, "" when none
    std::optional<std::uint64_t> id;  // the numeric `id` attribute
};

struct SlideIdList {
    std::string qualified_name;  // as written, e.g. "p:sldIdLst"
    std::size_t start = 0;          // "<" of its start tag
    std::size_t content_start = 0;  // one past the start tag's ">"
    std::size_t content_end = 0;    // "<" of the end tag
    std::size_t end = 0;            // one past the end tag
    bool empty_element = false;     // written as <p:sldIdLst/>: no content range
    std::vector<SlideIdEntry> entries;  // in document order
};

// The slide list of a presentation part, or none. Xml for malformed XML;
// XmlText "unexpected EOF while reading slide id" when the part ends inside
// the list.
Result<std::optional<SlideIdList>> find_slide_id_list(std::string_view presentation_xml);

// Replacement of the byte range [start, end) of a text.
struct TextEdit {
    std::size_t start = 0;
    std::size_t end = 0;
    std::string replacement;
};

// The text with every edit applied; the edits must not overlap (any order).
std::string apply_text_edits(std::string_view text, std::vector<TextEdit> edits);

// The list content rewritten: everything between the entries (whitespace,
// comments, other elements) first, where it was, then the entries given by
// `order` (indices into `list.entries`), packed before the end tag. The list
// must have a content range (not an empty element).
TextEdit reorder_slide_id_entries(std::string_view presentation_xml, const SlideIdList& list,
                                  std::span<const std::size_t> order);

// The id of a new slide: one more than the largest numeric `id` of any
// `sldId` element (256 when there is none), or, when that leaves the range
// 256..2147483647, the smallest id from 256 that no `sldId` uses. A parse
// error ends the walk quietly. InvalidInput "no slide id is left in
// 256..2147483647" when every id is taken.
Result<std::uint64_t> next_slide_id(std::string_view presentation_xml);

// The presentation with `<p:sldId id="{slide_id}" r:id="{relationship_id}"/>`
// appended to its slide list (prefixes as the root element binds them). A
// list written as an empty element is opened up; without a list a new one is
// placed right after the last of `sldMasterIdLst`, `notesMasterIdLst` and
// `handoutMasterIdLst`, or first in the root when there is none of them.
// Errors: Xml for malformed XML; XmlText "expected closing marker {}" naming
// the root's end tag when the root element is missing or empty.
Result<std::string> append_slide_id(std::string_view presentation_xml, std::uint64_t slide_id,
                                    std::string_view relationship_id);

struct SlideOrderRewrite {
    std::string presentation_xml;
    bool changed = false;  // false: the input bytes, unchanged
};

// The slide list put into a new order: position k receives the entry that
// stood at `order[k]`. Entries move as whole elements; what lies between them
// stays where it was. Section lists are left alone. Errors:
//   InvalidInput "slide order has {} entries for {} slides"
//   InvalidInput "slide order index {} was not found"
//   InvalidInput "slide order index {} is duplicated"
//   XmlText "presentation has no slide id list" (an empty-element list counts
//     as none)
//   XmlText "unexpected EOF while reading slide id"; Xml for malformed XML.
Result<SlideOrderRewrite> reorder_slide_ids(std::string_view presentation_xml,
                                            std::span<const std::uint64_t> order);

}  // namespace zandrel
