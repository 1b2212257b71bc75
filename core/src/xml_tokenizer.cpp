#include "xml_tokenizer.hpp"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "byte_scan.hpp"

namespace zandrel {
namespace {

bool is_xml_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string offset_suffix(std::size_t offset) { return " at offset " + std::to_string(offset); }

std::string_view trim_xml_space(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && is_xml_space(text[begin])) ++begin;
    while (end > begin && is_xml_space(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

enum class PrefixMatch { Yes, Truncated, No };

// Distinguishes markup cut off by the end of input from markup that is wrong.
PrefixMatch match_prefix(std::string_view rest, std::string_view prefix) {
    if (rest.size() >= prefix.size()) return rest.starts_with(prefix) ? PrefixMatch::Yes : PrefixMatch::No;
    return prefix.starts_with(rest) ? PrefixMatch::Truncated : PrefixMatch::No;
}

// Names are taken as written, whatever their bytes (parts in other encodings
// must still stream through), except that a quote would make a rebuilt tag
// read back differently.
bool is_name_char(char c) {
    switch (c) {
    case ' ': case '\t': case '\n': case '\r': case '/': case '>': case '<': case '"': case '\'':
        return false;
    default:
        return true;
    }
}

// The bytes that end a stretch of a start tag outside quoted values: its
// end, a quote opening a value, or a "<" that breaks it.
bool is_tag_stop(char c) { return c == '>' || c == '<' || c == '"' || c == '\''; }

// Offset of the first tag stop at or after `from`, `size` when there is none.
// Start tags are most of a part's bytes, so sixteen bytes are tested at once
// where the processor allows; nothing past `size` is read.
inline std::size_t find_tag_stop(const char* data, std::size_t from, std::size_t size) {
#if defined(__SSE2__)
    const __m128i gt = _mm_set1_epi8('>');
    const __m128i lt = _mm_set1_epi8('<');
    const __m128i double_quote = _mm_set1_epi8('"');
    const __m128i single_quote = _mm_set1_epi8('\'');
    for (; from + 16 <= size; from += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + from));
        const __m128i hits = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, gt), _mm_cmpeq_epi8(block, lt)),
                                          _mm_or_si128(_mm_cmpeq_epi8(block, double_quote),
                                                       _mm_cmpeq_epi8(block, single_quote)));
        if (const int mask = _mm_movemask_epi8(hits))
            return from + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(mask)));
    }
#endif
    while (from < size && !is_tag_stop(data[from])) ++from;
    return from;
}

bool is_reference_name_char(char c) {
    switch (c) {
    case ';': case '<': case '&': case '>': case '"': case '\'':
    case ' ': case '\t': case '\n': case '\r':
        return false;
    default:
        return true;
    }
}

bool is_xml_char(std::uint32_t code) {
    return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF) ||
           (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

void append_utf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

}  // namespace

// ---- attributes -------------------------------------------------------------

bool XmlAttributeIterator::seen_before(std::string_view key) {
    for (std::size_t i = 0; i < seen_count_ && i < seen_inline_.size(); ++i)
        if (seen_inline_[i] == key) return true;
    for (std::string_view seen : seen_overflow_)
        if (seen == key) return true;
    if (seen_count_ < seen_inline_.size())
        seen_inline_[seen_count_] = key;
    else
        seen_overflow_.push_back(key);
    ++seen_count_;
    return false;
}

std::optional<Result<XmlAttribute>> XmlAttributeIterator::next() {
    const std::size_t size = text_.size();
    std::size_t p = position_;
    while (p < size && is_xml_space(text_[p])) ++p;
    if (p >= size) {
        position_ = p;
        return std::nullopt;
    }
    // After a malformed entry, carry on at the next whitespace outside quotes.
    auto resync = [&](std::size_t from) {
        while (from < size && !is_xml_space(text_[from])) {
            char c = text_[from];
            if (c == '"' || c == '\'') {
                std::size_t close = text_.find(c, from + 1);
                from = close == std::string_view::npos ? size : close + 1;
            } else {
                ++from;
            }
        }
        position_ = from;
    };

    const std::size_t key_start = p;
    bool invalid_key = false;  // a quote, "<" or ">" in it
    for (; p < size && !is_xml_space(text_[p]) && text_[p] != '='; ++p) invalid_key |= is_tag_stop(text_[p]);
    const std::string_view key = text_.substr(key_start, p - key_start);
    if (key.empty()) {
        resync(p + 1);
        return Result<XmlAttribute>(ZandrelError::xml("attribute without a name"));
    }
    if (invalid_key) {
        // a quote in the key opened a quoted section for the tag scanner too;
        // skipping from the key's start pairs the quotes the same way
        resync(key_start);
        return Result<XmlAttribute>(ZandrelError::xml("invalid attribute name " + std::string(key)));
    }
    while (p < size && is_xml_space(text_[p])) ++p;
    if (p >= size || text_[p] != '=') {
        position_ = p;
        return Result<XmlAttribute>(ZandrelError::xml("attribute " + std::string(key) + " has no value"));
    }
    ++p;
    while (p < size && is_xml_space(text_[p])) ++p;
    if (p >= size || (text_[p] != '"' && text_[p] != '\'')) {
        resync(p);
        return Result<XmlAttribute>(
            ZandrelError::xml("attribute " + std::string(key) + " value is not quoted"));
    }
    const char quote = text_[p];
    const std::size_t close = text_.find(quote, p + 1);
    if (close == std::string_view::npos) {
        position_ = size;
        return Result<XmlAttribute>(
            ZandrelError::xml("attribute " + std::string(key) + " value has no closing quote"));
    }
    position_ = close + 1;
    if (seen_before(key))
        return Result<XmlAttribute>(ZandrelError::xml("duplicate attribute " + std::string(key)));
    return Result<XmlAttribute>(XmlAttribute{key, text_.substr(p + 1, close - p - 1), quote});
}

// ---- reader -----------------------------------------------------------------

std::optional<XmlEvent> trim_text_event(const XmlEvent& event) {
    if (event.kind != XmlEventKind::Text) return event;
    const std::string_view trimmed = trim_xml_space(event.content);
    if (trimmed.empty()) return std::nullopt;
    XmlEvent out = event;
    out.offset += static_cast<std::size_t>(trimmed.data() - event.content.data());
    out.raw = trimmed;
    out.content = trimmed;
    return out;
}

template <XmlTextMode Mode>
ZandrelError BasicXmlReader<Mode>::fail(std::string message) {
    failure_ = ZandrelError::xml(std::move(message));
    return *failure_;
}

template <XmlTextMode Mode>
Result<XmlEvent> BasicXmlReader<Mode>::next() {
    if (failure_) return *failure_;
    const std::size_t size = text_.size();
    const char* data = text_.data();
    while (position_ < size) {
        const char c = data[position_];
        if (c == '<') return read_markup();
        if (c == '&') return read_reference();
        const std::size_t start = position_;
        const std::size_t end = find_byte(data, start, find_byte(data, start, size, '<'), '&');
        position_ = end;
        const std::string_view piece = text_.substr(start, end - start);
        XmlEvent event;
        event.kind = XmlEventKind::Text;
        event.raw = piece;
        event.content = piece;
        event.offset = start;
        if constexpr (Mode == XmlTextMode::Trimming) {
            std::optional<XmlEvent> trimmed = trim_text_event(event);
            if (!trimmed) continue;
            return *trimmed;
        }
        return event;
    }
    XmlEvent end;
    end.offset = size;
    return end;
}

template <XmlTextMode Mode>
Result<XmlEvent> BasicXmlReader<Mode>::read_markup() {
    const std::size_t start = position_;
    if (start + 1 >= text_.size())
        return fail("unexpected end of input inside markup" + offset_suffix(start));
    switch (text_[start + 1]) {
    case '/': return read_end_tag(start);
    case '!': return read_bang(start);
    case '?': return read_question(start);
    default: return read_start_tag(start);
    }
}

template <XmlTextMode Mode>
Result<XmlEvent> BasicXmlReader<Mode>::read_start_tag(std::size_t start) {
    const std::size_t size = text_.size();
    const char* data = text_.data();
    const std::size_t name_start = start + 1;
    std::size_t p = name_start;
    while (p < size && is_name_char(data[p])) ++p;
    const std::size_t name_end = p;
    if (p >= size) return fail("unexpected end of input inside start tag" + offset_suffix(start));
    const char after_name = data[p];
    if (after_name == '<') return fail("unexpected '<' inside tag" + offset_suffix(start));
    if (name_end == name_start && (is_xml_space(after_name) || after_name == '>' || after_name == '/'))
        return fail("missing element name" + offset_suffix(start));
    if (!(is_xml_space(after_name) || after_name == '>' || after_name == '/'))
        return fail("invalid element name" + offset_suffix(start));
    // Find the closing ">" outside quoted values; a "<" outside quotes means
    // the tag was never closed.
    for (;;) {
        p = find_tag_stop(data, p, size);
        if (p >= size) return fail("unexpected end of input inside start tag" + offset_suffix(start));
        const char c = data[p];
        if (c == '>') break;
        if (c == '<') return fail("unexpected '<' inside tag" + offset_suffix(start));
        const std::size_t close = find_byte(data, p + 1, size, c);
        if (close >= size) return fail("unexpected end of input inside start tag" + offset_suffix(start));
        p = close + 1;
    }
    const std::size_t gt = p;
    const bool empty = data[gt - 1] == '/';
    const std::size_t body_end = empty ? gt - 1 : gt;

    XmlEvent event;
    event.kind = empty ? XmlEventKind::EmptyElement : XmlEventKind::StartElement;
    event.raw = text_.substr(start, gt + 1 - start);
    event.name = text_.substr(name_start, name_end - name_start);
    event.attributes = text_.substr(name_end, body_end - name_end);
    event.offset = start;
    position_ = gt + 1;
    if (!empty) open_names_.push_back(event.name);
    return event;
}

template <XmlTextMode Mode>
Result<XmlEvent> BasicXmlReader<Mode>::read_end_tag(std::size_t start) {
    const std::size_t name_start = start + 2;
    const std::size_t gt = text_.find('>', name_start);
    if (gt == std::string_view::npos)
        return fail("unexpected end of input inside end tag" + offset_suffix(start));
    std::size_t name_end = gt;
    while (name_end > name_start && is_xml_space(text_[name_end - 1])) --name_end;
    const std::string_view name = text_.substr(name_start, name_end - name_start);
    if (name.empty() || is_xml_space(name.front()))
        return fail("missing element name" + offset_suffix(start));
    if (open_names_.empty())
        return fail("unmatched end tag </" + std::string(name) + ">" + offset_suffix(start));
    if (open_names_.back() != name)
        return fail("mismatched end tag: expected </" + std::string(open_names_.back()) + ">, found </" +
                    std::string(name) + ">" + offset_suffix(start));
    open_names_.pop_back();
    XmlEvent event;
    event.kind = XmlEventKind::EndElement;
    event.raw = text_.substr(start, gt + 1 - start);
    event.name = name;
    event.offset = start;
    position_ = gt + 1;
    return event;
}

template <XmlTextMode Mode>
Result<XmlEvent> BasicXmlReader<Mode>::read_bang(std::size_t start) {
    const std::string_view rest = text_.substr(start);
    XmlEvent event;
    event.offset = start;
    auto delimited = [&](std::size_t open_size, std::string_view close, XmlEventKind kind,
                         const char* what) -> Result<XmlEvent> {
        const std::size_t end = text_.find(close, start + open_size);
        if (end == std::string_view::npos)
            return fail(std::string("unexpected end of input inside ") + what + offset_suffix(start));
        event.kind = kind;
        event.content = text_.substr(start + open_size, end - start - open_size);
        event.raw = text_.substr(start, end + close.size() - start);
        position_ = end + close.size();
        return event;
    };

    const PrefixMatch comment = match_prefix(rest, "<!--");
    if (comment == PrefixMatch::Yes) return delimited(4, "-->", XmlEventKind::Comment, "comment");
    const PrefixMatch cdata = match_prefix(rest, "<![CDATA[");
    if (cdata == PrefixMatch::Yes) return delimited(9, "]]>", XmlEventKind::CData, "CDATA section");
    const PrefixMatch doctype = match_prefix(rest, "<!DOCTYPE");
    if (doctype == PrefixMatch::Yes) {
        // Skip the name, identifiers and internal subset without interpreting
        // them: only quotes and brackets decide where the declaration ends.
        const std::size_t size = text_.size();
        std::size_t p = start + 9;
        if (p < size && !is_xml_space(text_[p])) return fail("unknown markup" + offset_suffix(start));
        while (p < size && is_xml_space(text_[p])) ++p;
        const std::size_t content_start = p;
        std::size_t bracket_depth = 0;
        for (;;) {
            if (p >= size) return fail("unexpected end of input inside document type" + offset_suffix(start));
            const char c = text_[p];
            if (c == '"' || c == '\'') {
                const std::size_t close = text_.find(c, p + 1);
                if (close == std::string_view::npos)
                    return fail("unexpected end of input inside document type" + offset_suffix(start));
                p = close + 1;
                continue;
            }
            if (c == '[') ++bracket_depth;
            if (c == ']' && bracket_depth > 0) --bracket_depth;
            if (c == '>' && bracket_depth == 0) break;
            ++p;
        }
        event.kind = XmlEventKind::DocType;
        event.content = text_.substr(content_start, p - content_start);
        event.raw = text_.substr(start, p + 1 - start);
        position_ = p + 1;
        return event;
    }
    if (comment == PrefixMatch::Truncated || cdata == PrefixMatch::Truncated ||
        doctype == PrefixMatch::Truncated)
        return fail("unexpected end of input inside markup" + offset_suffix(start));
    return fail("unknown markup" + offset_suffix(start));
}

template <XmlTextMode Mode>
Result<XmlEvent> BasicXmlReader<Mode>::read_question(std::size_t start) {
    const std::size_t end = text_.find("?>", start + 2);
    if (end == std::string_view::npos)
        return fail("unexpected end of input inside processing instruction" + offset_suffix(start));
    XmlEvent event;
    event.content = text_.substr(start + 2, end - start - 2);
    const bool declaration = event.content.starts_with("xml") &&
                             (event.content.size() == 3 || is_xml_space(event.content[3]));
    event.kind = declaration ? XmlEventKind::Declaration : XmlEventKind::ProcessingInstruction;
    event.raw = text_.substr(start, end + 2 - start);
    event.offset = start;
    position_ = end + 2;
    return event;
}

template <XmlTextMode Mode>
Result<XmlEvent> BasicXmlReader<Mode>::read_reference() {
    const std::size_t start = position_;
    const std::size_t size = text_.size();
    std::size_t p = start + 1;
    while (p < size && is_reference_name_char(text_[p])) ++p;
    if (p >= size) return fail("unexpected end of input inside reference" + offset_suffix(start));
    if (text_[p] != ';' || p == start + 1) return fail("invalid reference" + offset_suffix(start));
    XmlEvent event;
    event.name = text_.substr(start + 1, p - start - 1);
    event.kind = event.name.front() == '#' ? XmlEventKind::CharReference : XmlEventKind::EntityReference;
    event.raw = text_.substr(start, p + 1 - start);
    event.offset = start;
    position_ = p + 1;
    return event;
}

template class BasicXmlReader<XmlTextMode::Streaming>;
template class BasicXmlReader<XmlTextMode::Trimming>;

// ---- references and text ----------------------------------------------------

std::optional<char> predefined_entity(std::string_view name) {
    if (name == "lt") return '<';
    if (name == "gt") return '>';
    if (name == "amp") return '&';
    if (name == "quot") return '"';
    if (name == "apos") return '\'';
    return std::nullopt;
}

std::optional<std::string> decode_char_reference(std::string_view name) {
    if (name.size() < 2 || name[0] != '#') return std::nullopt;
    const bool hex = name[1] == 'x';
    const std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty()) return std::nullopt;
    std::uint32_t code = 0;
    for (char c : digits) {
        std::uint32_t digit;
        if (c >= '0' && c <= '9') digit = static_cast<std::uint32_t>(c - '0');
        else if (hex && c >= 'a' && c <= 'f') digit = static_cast<std::uint32_t>(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F') digit = static_cast<std::uint32_t>(c - 'A' + 10);
        else return std::nullopt;
        code = code * (hex ? 16 : 10) + digit;
        if (code > 0x10FFFF) return std::nullopt;  // also keeps the next step from overflowing
    }
    if (!is_xml_char(code)) return std::nullopt;
    std::string out;
    append_utf8(out, code);
    return out;
}

Result<std::string> unescape_xml(std::string_view raw) {
    std::string out;
    out.reserve(raw.size());
    std::size_t p = 0;
    while (p < raw.size()) {
        const std::size_t amp = raw.find('&', p);
        if (amp == std::string_view::npos) {
            out.append(raw.substr(p));
            break;
        }
        out.append(raw.substr(p, amp - p));
        const std::size_t semicolon = raw.find(';', amp + 1);
        if (semicolon == std::string_view::npos)
            return ZandrelError::xml_text("unterminated reference in " + std::string(raw));
        const std::string_view name = raw.substr(amp + 1, semicolon - amp - 1);
        if (!name.empty() && name[0] == '#') {
            std::optional<std::string> character = decode_char_reference(name);
            if (!character)
                return ZandrelError::xml_text("invalid character reference &" + std::string(name) + ";");
            out.append(*character);
        } else if (std::optional<char> character = predefined_entity(name)) {
            out.push_back(*character);
        } else {
            return ZandrelError::xml_text("unknown entity reference &" + std::string(name) + ";");
        }
        p = semicolon + 1;
    }
    return out;
}

}  // namespace zandrel
