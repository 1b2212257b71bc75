#include "text_rewrite_search.hpp"

#include <optional>
#include <string>

#include "text_rewrite_cursor.hpp"
#include "xml_chars.hpp"

namespace zandrel {
namespace {

std::optional<std::size_t> first_invalid_utf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        const Utf8Step step = decode_utf8_step(text, i);
        if (!step.valid) return i;
        i += step.length;
    }
    return std::nullopt;
}

std::uint64_t count_occurrences(std::string_view text, std::string_view search) {
    std::uint64_t count = 0;
    for (std::size_t at = text.find(search); at != std::string_view::npos;
         at = text.find(search, at + search.size()))
        ++count;
    return count;
}

// The raw piece with each occurrence replaced by the escaped replacement. The
// bytes between occurrences are character data already and stay as read, so
// a reader sees the same text pieces as before apart from the replacement.
std::string replace_occurrences(std::string_view raw, std::string_view search,
                                std::string_view escaped_replacement) {
    std::string out;
    std::size_t from = 0;
    for (std::size_t at = raw.find(search); at != std::string_view::npos; at = raw.find(search, from)) {
        out.append(raw.substr(from, at - from));
        out.append(escaped_replacement);
        from = at + search.size();
    }
    out.append(raw.substr(from));
    // joining "]]" and ">" that a removed occurrence kept apart would end a
    // CDATA section that never began
    for (std::size_t at = out.find("]]>"); at != std::string::npos; at = out.find("]]>", at + 2))
        out.replace(at + 2, 1, "&gt;");
    return out;
}

}  // namespace

Result<SlideTextEdit> replace_text_nodes(std::string_view part, std::string_view search,
                                         std::string_view replacement) {
    ZANDREL_CHECK(check_xml_text(search));
    ZANDREL_CHECK(check_xml_text(replacement));
    if (search.empty()) return SlideTextEdit{std::string(part), 0};

    const std::string escaped_replacement = escape_xml(replacement);
    XmlStreamReader reader(part);
    XmlEventWriter writer(part.size() + part.size() / 8);
    bool inside_text = false;
    std::uint64_t count = 0;
    for (;;) {
        ZANDREL_TRY(const XmlEvent event, reader.next());
        if (event.kind == XmlEventKind::EndOfInput) break;
        if (is_text_element_tag(event)) inside_text = event.kind == XmlEventKind::StartElement;
        if (inside_text && event.kind == XmlEventKind::Text) {
            if (std::optional<std::size_t> bad = first_invalid_utf8(event.content))
                return ZandrelError::xml_text("text is not valid UTF-8 at byte " +
                                              std::to_string(event.offset + *bad));
            if (const std::uint64_t found = count_occurrences(event.content, search)) {
                writer.write_raw(replace_occurrences(event.content, search, escaped_replacement));
                count += found;
                continue;
            }
        }
        writer.write_event(event);
    }
    return finish_slide_edit(part, writer, count);
}

Result<SlideTextEdit> replace_text_run_at_index_in_slide(std::string_view slide,
                                                         std::uint64_t run_index,
                                                         std::string_view replacement) {
    ZANDREL_CHECK(check_xml_text(replacement));
    XmlStreamReader reader(slide);
    XmlEventWriter writer(slide.size() + replacement.size() + 16);
    bool inside_text = false;
    std::uint64_t piece = 0;
    std::uint64_t count = 0;
    for (;;) {
        ZANDREL_TRY(const XmlEvent event, reader.next());
        if (event.kind == XmlEventKind::EndOfInput) break;
        if (is_text_element_tag(event)) inside_text = event.kind == XmlEventKind::StartElement;
        if (inside_text && event.kind == XmlEventKind::Text && piece++ == run_index) {
            writer.write_text(replacement);
            count = 1;
            continue;
        }
        writer.write_event(event);
    }
    return finish_slide_edit(slide, writer, count);
}

}  // namespace zandrel
