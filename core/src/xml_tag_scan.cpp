#include "xml_tag_scan.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <limits>
#include <utility>

#include "byte_scan.hpp"
#include "package_reader.hpp"
#include "xml_chars.hpp"
#include "xml_tokenizer.hpp"

namespace zandrel {
namespace {

constexpr auto npos = std::string_view::npos;

bool is_unicode_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// The byte length of the character at `offset` when it ends a tag name, 0
// when it does not (or the text ends there).
std::size_t tag_name_end_length(std::string_view text, std::size_t offset) {
    if (offset >= text.size()) return 0;
    char c = text[offset];
    if (c == ' ' || c == '/' || c == '>') return 1;
    auto step = decode_utf8_step(text, offset);
    return step.valid && is_unicode_white_space(step.code_point) ? step.length : 0;
}

bool ends_tag_name(std::string_view text, std::size_t offset) { return tag_name_end_length(text, offset) > 0; }

// A byte-sized hash of the first four bytes of a text of at least four.
std::size_t head_hash(std::string_view text) {
    std::uint32_t head = 0;
    std::memcpy(&head, text.data(), sizeof head);
    return (head * 2654435761u) >> 24;
}

// The bound below which a pattern of `size` bytes must start to end by `limit`.
std::size_t ends_before(std::size_t limit, std::size_t size) { return limit >= size ? limit - size + 1 : 0; }

// The last entry of a sorted list that is at least `low` and below `limit`.
std::optional<std::size_t> last_in_range(const std::vector<std::size_t>& sorted, std::size_t low, std::size_t limit) {
    auto after = std::lower_bound(sorted.begin(), sorted.end(), limit);
    if (after == sorted.begin() || *(after - 1) < low) return std::nullopt;
    return *(after - 1);
}

}  // namespace

PatternCursor::PatternCursor(std::string_view text, std::string pattern, bool tag_boundary)
    : text_(text), pattern_(std::move(pattern)), tag_boundary_(tag_boundary) {}

PatternCursor PatternCursor::opening(std::string_view text, std::string_view tag) {
    std::string pattern = "<";
    pattern.append(tag);
    return PatternCursor(text, std::move(pattern), true);
}

PatternCursor PatternCursor::closing(std::string_view text, std::string_view tag) {
    std::string pattern = "</";
    pattern.append(tag);
    pattern.push_back('>');
    return PatternCursor(text, std::move(pattern), false);
}

PatternCursor PatternCursor::exact(std::string_view text, std::string_view pattern) {
    return PatternCursor(text, std::string(pattern), false);
}

std::optional<std::size_t> PatternCursor::search(std::size_t position) const {
    while (true) {
        // memmem skips ahead on the whole pattern; a plain find stops at
        // every "<", which markup is full of
        if (position > text_.size()) return std::nullopt;
        const void* found = ::memmem(text_.data() + position, text_.size() - position, pattern_.data(),
                                     pattern_.size());
        if (!found) return std::nullopt;
        std::size_t hit = static_cast<std::size_t>(static_cast<const char*>(found) - text_.data());
        if (!tag_boundary_ || ends_tag_name(text_, hit + pattern_.size())) return hit;
        // Patterns start with their only "<", so occurrences never overlap
        // and the search may resume past the rejected one.
        position = hit + pattern_.size();
    }
}

std::optional<std::size_t> PatternCursor::next_from(std::size_t position) {
    // The cached hit is the first one at or after `searched_from_`, so it is
    // also the first one at or after any position up to the hit itself.
    bool cached = searched_from_ != npos && searched_from_ <= position && (hit_ == npos || hit_ >= position);
    if (!cached) {
        searched_from_ = position;
        hit_ = search(position).value_or(npos);
    }
    if (hit_ == npos) return std::nullopt;
    return hit_;
}

TagIndex::TagIndex(std::string_view text, std::span<const std::string_view> tags) : text_(text) {
    // Which names a "<" may start, told by a hash of the four bytes after it
    // (names shorter than that are always compared in full): most of the
    // "<" in a part start none, and are passed over after one table lookup.
    std::array<std::uint64_t, 256> candidates{};
    std::uint64_t short_names = 0;
    for (std::string_view name : tags) {
        if (name.empty() || tags_.size() == max_tags) continue;
        const std::uint64_t bit = std::uint64_t{1} << tags_.size();
        tags_.push_back(Tag{name, {}, {}, {}});
        if (name.size() >= 4)
            candidates[head_hash(name)] |= bit;
        else
            short_names |= bit;
    }
    const char* data = text.data();
    const std::size_t size = text.size();
    for_each_byte(text, '<', [&](std::size_t at) {
        if (at + 1 >= size) return;
        const bool closing = data[at + 1] == '/';
        const std::size_t name_start = at + (closing ? 2 : 1);
        const std::string_view rest(data + name_start, size - std::min(size, name_start));
        std::uint64_t matches = short_names | (rest.size() >= 4 ? candidates[head_hash(rest)] : 0);
        for (; matches != 0; matches &= matches - 1) {
            Tag& tag = tags_[static_cast<std::size_t>(std::countr_zero(matches))];
            if (!rest.starts_with(tag.name)) continue;
            const std::size_t name_end = name_start + tag.name.size();
            if (closing) {
                if (name_end < size && data[name_end] == '>') tag.closings.push_back(at);
            } else {
                tag.patterns.push_back(at);
                if (std::size_t length = tag_name_end_length(text, name_end))
                    tag.openings.push_back({at, name_end + length});
            }
        }
    });
}

const TagIndex::Tag* TagIndex::find(std::string_view name) const {
    for (const Tag& tag : tags_)
        if (tag.name == name) return &tag;
    return nullptr;
}

std::optional<std::size_t> TagIndex::find_tag_start(std::string_view name, std::size_t from,
                                                    std::size_t slice_end) const {
    const Tag* tag = find(name);
    if (!tag) return std::nullopt;
    auto next = std::lower_bound(tag->openings.begin(), tag->openings.end(), from,
                                 [](const Opening& opening, std::size_t at) { return opening.offset < at; });
    // Accepted openings do not overlap, so their name ends grow with their
    // offsets: when the first one's name runs past the slice, so do all later.
    if (next == tag->openings.end() || next->accept_end > slice_end) return std::nullopt;
    return next->offset;
}

std::optional<std::size_t> TagIndex::find_element_end(std::string_view name, std::size_t start,
                                                      std::size_t slice_end) const {
    const Tag* tag = find(name);
    if (!tag) return std::nullopt;
    const std::size_t opening_size = tag->name.size() + 1;
    const std::size_t closing_size = tag->name.size() + 3;
    std::size_t position = start + opening_size;
    auto open = std::lower_bound(tag->openings.begin(), tag->openings.end(), position,
                                 [](const Opening& opening, std::size_t at) { return opening.offset < at; });
    auto close = std::lower_bound(tag->closings.begin(), tag->closings.end(), position);
    std::size_t depth = 1;
    // the depth count of the free function, stepping through both lists
    // instead of searching again; neither pattern can start inside the other
    while (close != tag->closings.end() && *close + closing_size <= slice_end) {
        if (open != tag->openings.end() && open->accept_end <= slice_end && open->offset < *close) {
            ++depth;
            ++open;
            continue;
        }
        position = *close + closing_size;
        if (--depth == 0) return position;
        ++close;
    }
    return std::nullopt;
}

std::optional<std::size_t> TagIndex::last_opening_before(std::string_view name, std::size_t slice_start,
                                                         std::size_t limit) const {
    const Tag* tag = find(name);
    if (!tag) return std::nullopt;
    return last_in_range(tag->patterns, slice_start, ends_before(limit, tag->name.size() + 1));
}

std::optional<std::size_t> TagIndex::last_closing_before(std::string_view name, std::size_t slice_start,
                                                         std::size_t limit) const {
    const Tag* tag = find(name);
    if (!tag) return std::nullopt;
    return last_in_range(tag->closings, slice_start, ends_before(limit, tag->name.size() + 3));
}

std::optional<std::size_t> find_tag_start(std::string_view text, std::size_t start, std::string_view tag) {
    return PatternCursor::opening(text, tag).next_from(start);
}

std::optional<std::size_t> find_element_end(PatternCursor& opening, PatternCursor& closing, std::size_t start) {
    std::size_t position = start + opening.pattern_size();
    std::size_t depth = 1;
    while (true) {
        auto close = closing.next_from(position);
        // Without a further closing tag the depth can never return to 0.
        if (!close) return std::nullopt;
        auto open = opening.next_from(position);
        if (open && *open < *close) {
            ++depth;
            position = *open + opening.pattern_size();
            continue;
        }
        position = *close + closing.pattern_size();
        if (--depth == 0) return position;
    }
}

std::optional<std::size_t> find_element_end(std::string_view text, std::size_t start, std::string_view tag) {
    auto opening = PatternCursor::opening(text, tag);
    auto closing = PatternCursor::closing(text, tag);
    return find_element_end(opening, closing, start);
}

std::optional<std::size_t> find_start_tag_end(std::string_view text, std::size_t start) {
    char quote = 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        char c = text[i];
        // XML allows no "<" inside a tag, not even in a value, so one
        // means the tag is broken; stopping there keeps scans short.
        if (c == '<' && i > start) return std::nullopt;
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<std::string_view> element_start_tag(std::string_view text, std::string_view tag) {
    auto start = find_tag_start(text, 0, tag);
    if (!start) return std::nullopt;
    std::size_t end = text.find('>', *start);
    if (end == npos) return std::nullopt;
    return text.substr(*start, end + 1 - *start);
}

Result<std::string> insert_before(std::string_view bytes, std::string_view marker, std::string_view insertion) {
    std::string text = decode_utf8_lossy(bytes);
    std::size_t at = text.rfind(marker);
    if (at == npos) return ZandrelError::xml_text("expected closing marker " + std::string(marker));
    text.insert(at, insertion);
    return text;
}

std::string replace_element(std::string_view text, std::string_view tag, std::string_view replacement) {
    std::string opening = "<";
    opening.append(tag);
    std::size_t start = text.find(opening);
    if (start == npos) return std::string(text);
    std::size_t start_tag_end = text.find('>', start);
    if (start_tag_end == npos) return std::string(text);
    std::size_t end = start_tag_end + 1;
    if (text[start_tag_end - 1] != '/') {
        std::string closing = "</";
        closing.append(tag);
        closing.push_back('>');
        std::size_t close = text.find(closing, end);
        if (close == npos) return std::string(text);
        end = close + closing.size();
    }
    std::string out;
    out.reserve(text.size() - (end - start) + replacement.size());
    out.append(text.substr(0, start));
    out.append(replacement);
    out.append(text.substr(end));
    return out;
}

std::optional<std::string_view> attribute_value(std::string_view text, std::string_view name) {
    std::string pattern(name);
    pattern.append("=\"");
    std::size_t at = text.find(pattern);
    if (at == npos) return std::nullopt;
    std::size_t value_start = at + pattern.size();
    std::size_t value_end = text.find('"', value_start);
    if (value_end == npos) return std::nullopt;
    return text.substr(value_start, value_end - value_start);
}

std::optional<std::string> extract_string_attribute(std::string_view text, std::string_view name) {
    auto value = attribute_value(text, name);
    if (!value) return std::nullopt;
    return std::string(*value);
}

std::int64_t attribute_i64(std::string_view text, std::string_view name) {
    auto value = attribute_value(text, name);
    if (!value) return 0;
    return parse_i64_decimal(*value).value_or(0);
}

std::string xml_attr(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (char c : value) {
        switch (c) {
            case '&': out.append("&amp;"); break;
            case '"': out.append("&quot;"); break;
            case '<': out.append("&lt;"); break;
            case '>': out.append("&gt;"); break;
            default: out.push_back(c);
        }
    }
    return out;
}

std::string_view local_name_of(std::string_view qualified_name) {
    std::size_t colon = qualified_name.rfind(':');
    return colon == npos ? qualified_name : qualified_name.substr(colon + 1);
}

std::string unescape_attribute_or_empty(std::string_view raw_value) {
    if (!is_valid_utf8(raw_value)) return {};
    auto value = unescape_xml(raw_value);
    return value ? std::move(value).value() : std::string();
}

namespace {

// One or more ASCII digits and nothing else, without overflow.
std::optional<std::uint64_t> parse_digits(std::string_view digits) {
    if (digits.empty() || digits.front() < '0' || digits.front() > '9') return std::nullopt;
    std::uint64_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

}  // namespace

std::optional<std::uint64_t> parse_u64_decimal(std::string_view text) {
    if (text.starts_with('+')) text.remove_prefix(1);
    return parse_digits(text);
}

std::optional<std::int64_t> parse_i64_decimal(std::string_view text) {
    bool negative = text.starts_with('-');
    if (negative || text.starts_with('+')) text.remove_prefix(1);
    auto magnitude = parse_digits(text);
    if (!magnitude) return std::nullopt;
    constexpr auto max = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (!negative) {
        if (*magnitude > max) return std::nullopt;
        return static_cast<std::int64_t>(*magnitude);
    }
    if (*magnitude > max + 1) return std::nullopt;
    // -(max + 1) is representable although max + 1 is not
    return *magnitude == max + 1 ? std::numeric_limits<std::int64_t>::min()
                                 : -static_cast<std::int64_t>(*magnitude);
}

}  // namespace zandrel
