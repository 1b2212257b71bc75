// Text-level scanning of XML parts: finding element starts and ends,
// splicing markup in, and reading attribute values, all by byte-exact,
// case-sensitive substring search on the part's UTF-8 text. No tree is built.
//
// Offsets are byte offsets from 0. Offsets given back to these functions must
// be ones an earlier search returned (they fall on character boundaries).
// Only `insert_before` can fail; every other function reports a missing match
// as an absent result, 0, or an unchanged copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "models.hpp"

namespace zandrel {

// Searches one pattern through a text and remembers the next hit, so a walk
// whose positions only move forward searches each stretch of text once.
// Asking from an earlier position than before searches again, so answers are
// always those of a fresh search. The text must outlive the cursor.
class PatternCursor {
public:
    // "<" + tag, accepted only when followed by a space, "/", ">" or another
    // Unicode White_Space character (so `p:sp` skips `p:spPr` and a pattern
    // at the very end of the text).
    static PatternCursor opening(std::string_view text, std::string_view tag);
    // "</" + tag + ">", exactly.
    static PatternCursor closing(std::string_view text, std::string_view tag);
    // Any pattern, exactly.
    static PatternCursor exact(std::string_view text, std::string_view pattern);

    // Offset of the first (accepted) occurrence at or after `position`.
    std::optional<std::size_t> next_from(std::size_t position);
    std::size_t pattern_size() const { return pattern_.size(); }

private:
    PatternCursor(std::string_view text, std::string pattern, bool tag_boundary);
    std::optional<std::size_t> search(std::size_t position) const;

    std::string_view text_;
    std::string pattern_;
    bool tag_boundary_;
    std::size_t searched_from_ = std::string_view::npos;  // npos: nothing cached yet
    std::size_t hit_ = std::string_view::npos;            // npos: no occurrence
};

// Where the start and end tags of a few names lie in one text, found by one
// sweep over its "<" characters rather than one substring search per name
// (markup has a "<" every few bytes, so the sweep costs about one search).
// Every query names a tag given at construction (up to 64 names; any other
// name finds nothing) and a slice [slice_start, slice_end) of the text, and answers as
// the free function on that slice alone would, with offsets into the whole
// text; so nested slices need no scan of their own. The text must outlive
// the index.
class TagIndex {
public:
    TagIndex(std::string_view text, std::span<const std::string_view> tags);

    std::string_view text() const { return text_; }
    // `find_tag_start` on the slice, from `from` (at least the slice start).
    std::optional<std::size_t> find_tag_start(std::string_view tag, std::size_t from, std::size_t slice_end) const;
    // `find_element_end` on the slice for the element whose "<" is at `start`.
    std::optional<std::size_t> find_element_end(std::string_view tag, std::size_t start, std::size_t slice_end) const;
    // The last "<" + tag (no name-boundary check) and the last "</tag>" that
    // lie wholly at or after `slice_start` and before `limit`.
    std::optional<std::size_t> last_opening_before(std::string_view tag, std::size_t slice_start,
                                                   std::size_t limit) const;
    std::optional<std::size_t> last_closing_before(std::string_view tag, std::size_t slice_start,
                                                   std::size_t limit) const;

private:
    struct Opening {
        std::size_t offset = 0;      // the "<"
        std::size_t accept_end = 0;  // just past the character that ends the name
    };
    struct Tag {
        std::string_view name;
        std::vector<Opening> openings;     // accepted ones only
        std::vector<std::size_t> patterns; // every "<" + name
        std::vector<std::size_t> closings; // every "</name>"
    };
    static constexpr std::size_t max_tags = 64;
    const Tag* find(std::string_view name) const;

    std::string_view text_;
    std::vector<Tag> tags_;
};

// Offset of the "<" of the first accepted opening pattern "<" + tag at or
// after `start` (see `PatternCursor::opening`).
std::optional<std::size_t> find_tag_start(std::string_view text, std::size_t start, std::string_view tag);

// Offset just past the closing tag that matches the element whose "<" is at
// `start`, counting nested openings of the same tag (a nested self-closing
// one counts as an opening too). Absent when the closing tags run out.
std::optional<std::size_t> find_element_end(std::string_view text, std::size_t start, std::string_view tag);

// The same depth count on cursors that a walk keeps across elements:
// `opening` and `closing` must be the opening and closing cursors of the
// element's tag over the same text.
std::optional<std::size_t> find_element_end(PatternCursor& opening, PatternCursor& closing,
                                            std::size_t start);

// Offset of the ">" that ends the start tag whose "<" is at `start`, skipping
// ">" inside single- or double-quoted attribute values. Absent when the text
// ends first or a "<" comes first (XML allows none inside a tag).
std::optional<std::size_t> find_start_tag_end(std::string_view text, std::size_t start);

// The first start tag of `tag`, from "<" through the first ">" after it
// (a ">" inside an attribute value ends it); a view into `text`.
std::optional<std::string_view> element_start_tag(std::string_view text, std::string_view tag);

// The bytes decoded as UTF-8 (ill-formed sequences become U+FFFD) with
// `insertion` placed right before the LAST occurrence of `marker`.
// XmlText "expected closing marker {marker}" when the marker is missing.
Result<std::string> insert_before(std::string_view bytes, std::string_view marker, std::string_view insertion);

// The text with its first `tag` element (plain substring match of "<" + tag,
// no name-boundary check, no depth counting: the element ends at "/>" or at
// the first "</tag>") replaced by `replacement`; an unchanged copy when
// the start, its ">" or the closing tag is missing.
std::string replace_element(std::string_view text, std::string_view tag, std::string_view replacement);

// The raw value (no entity decoding) of the first `name="..."` anywhere in
// `text`, a view into `text`. No check of the character before the name: `id`
// also matches the end of `r:id`, so pass the start tag you mean. Single
// quoted values are never found.
std::optional<std::string_view> attribute_value(std::string_view text, std::string_view name);

// `attribute_value` as an owned string, for callers that keep the value
// beyond the text.
std::optional<std::string> extract_string_attribute(std::string_view text, std::string_view name);

// `attribute_value` parsed as a signed 64-bit decimal with optional "+" or
// "-"; 0 when missing, empty, not a number or out of range.
std::int64_t attribute_i64(std::string_view text, std::string_view name);

// The value escaped for a double-quoted attribute: "&", '"', "<", ">" become
// entity references ("&" first, so nothing is escaped twice); the apostrophe
// stays.
std::string xml_attr(std::string_view value);

// The part of a qualified name after its last ":" (all of it without one).
std::string_view local_name_of(std::string_view qualified_name);

// A raw attribute value with its references resolved, or "" when it is not
// UTF-8 or a reference does not resolve: how the package readers take values.
std::string unescape_attribute_or_empty(std::string_view raw_value);

// Decimal parsers shared by the id readers: an optional single "+" (and for
// the signed one "-"), then one or more ASCII digits, nothing else, no
// overflow. Absent otherwise.
std::optional<std::uint64_t> parse_u64_decimal(std::string_view text);
std::optional<std::int64_t> parse_i64_decimal(std::string_view text);

}  // namespace zandrel
