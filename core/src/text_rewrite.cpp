#include "text_rewrite.hpp"

#include <algorithm>

#include "package_reader.hpp"
#include "text_xml_helpers.hpp"

namespace zandrel {

SlideTextEdit finish_slide_edit(std::string_view part, XmlEventWriter& writer, std::uint64_t count) {
    if (count == 0) return SlideTextEdit{std::string(part), 0};
    return SlideTextEdit{writer.take_buffer(), count};
}

void write_text_run(XmlEventWriter& writer, std::string_view text) {
    writer.write_raw("<a:r><a:t>");
    writer.write_text(text);
    writer.write_raw("</a:t></a:r>");
}

void write_replacement_paragraphs(XmlEventWriter& writer, std::string_view text) {
    for (;;) {
        const std::size_t line_end = text.find('\n');
        writer.write_raw("<a:p>");
        write_text_run(writer, text.substr(0, line_end));
        writer.write_raw("</a:p>");
        if (line_end == std::string_view::npos) return;
        text.remove_prefix(line_end + 1);
    }
}

Result<std::string> replacement_paragraphs_xml(std::string_view text) {
    if (!is_valid_utf8(text)) return ZandrelError::xml_text("paragraph text is not valid UTF-8");
    XmlEventWriter writer;
    write_replacement_paragraphs(writer, text);
    return writer.take_buffer();
}

Result<std::uint64_t> rewrite_text_body_content(XmlStreamReader& reader, XmlEventWriter& writer,
                                                std::string_view text) {
    const std::size_t body_depth = reader.open_depth();
    std::uint64_t dropped = 0;
    for (;;) {
        ZANDREL_TRY(const XmlEvent event, reader.next());
        switch (event.kind) {
        case XmlEventKind::EndOfInput:
            return ZandrelError::xml_text("unexpected end of XML while rewriting text body");
        case XmlEventKind::StartElement:
            if (event.local_name() == "p") {
                ZANDREL_CHECK(skip_current_element(reader));
                ++dropped;
                continue;
            }
            break;
        case XmlEventKind::EmptyElement:
            if (event.local_name() == "p") {
                ++dropped;
                continue;
            }
            break;
        case XmlEventKind::EndElement:
            if (reader.open_depth() + 1 == body_depth) {
                write_replacement_paragraphs(writer, text);
                writer.write_event(event);
                return std::max<std::uint64_t>(dropped, 1);
            }
            break;
        default:
            break;
        }
        writer.write_event(event);
    }
}

}  // namespace zandrel
