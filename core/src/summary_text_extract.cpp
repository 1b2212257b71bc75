#include "summary_text_extract.hpp"

#include <utility>

#include "package_reader.hpp"
#include "text_xml_helpers.hpp"
#include "xml_chars.hpp"
#include "xml_tag_scan.hpp"

namespace zandrel {
namespace {

// The role of an element by its qualified name, without finding the whole
// local name: the roles' local names are one or two characters long.
ParagraphTag paragraph_tag(std::string_view name) {
    const std::size_t size = name.size();
    if (size == 0) return ParagraphTag::Other;
    if (size == 1 || name[size - 2] == ':') {
        switch (name.back()) {
            case 'p': return ParagraphTag::Paragraph;
            case 'r': return ParagraphTag::Run;
            case 't': return ParagraphTag::Text;
            default: return ParagraphTag::Other;
        }
    }
    if (name.ends_with("br") && (size == 2 || name[size - 3] == ':')) return ParagraphTag::Break;
    return ParagraphTag::Other;
}

// Whether the local name of `name` is `local`, told from the end of the
// name: most names are shorter than the probed ones and fail at once.
bool has_local_name(std::string_view name, std::string_view local) {
    return name.ends_with(local) && (name.size() == local.size() || name[name.size() - local.size() - 1] == ':');
}

bool is_text_element_name(std::string_view name) { return has_local_name(name, "t"); }

std::optional<bool> switch_value(const std::optional<std::string_view>& value) {
    if (!value) return std::nullopt;
    if (*value == "1" || *value == "true" || *value == "on") return true;
    if (*value == "0" || *value == "false" || *value == "off") return false;
    return std::nullopt;
}

std::optional<bool> underline_value(const std::optional<std::string_view>& value) {
    if (!value) return std::nullopt;
    return *value != "none";
}

std::optional<std::int64_t> font_size_value(const std::optional<std::string_view>& value) {
    if (!value) return std::nullopt;
    return parse_i64_decimal(*value);
}

std::optional<std::string> owned_value(const std::optional<std::string_view>& value) {
    if (!value) return std::nullopt;
    return std::string(*value);
}

SlideTextScan scan_text_elements(std::string_view xml, bool probe_elements) {
    SlideTextCollector collector(probe_elements);
    for_each_xml_event<XmlTextMode::Trimming>(xml, [&](const XmlEvent& event) { collector.on_event(event); });
    return collector.take();
}

constexpr std::array<RunValueSource, 5> shape_run_sources = {{
    {"rPr", "b"},
    {"rPr", "i"},
    {"rPr", "u"},
    {"rPr", "sz"},
    {"latin", "typeface"},
}};

}  // namespace

LossyUtf8Text::LossyUtf8Text(std::string_view bytes) : bytes_(bytes) {
    if (!is_valid_utf8(bytes)) decoded_ = decode_utf8_lossy(bytes);
}

std::vector<std::string> extract_text_runs(std::string_view xml) {
    return scan_text_elements(xml, false).texts;
}

SlideTextScan scan_slide_text(std::string_view xml) { return scan_text_elements(xml, true); }

void SlideTextCollector::on_event(const XmlEvent& event) {
    switch (event.kind) {
        case XmlEventKind::StartElement:
        case XmlEventKind::EmptyElement:
            if (probe_elements_) {
                if (has_local_name(event.name, "transition")) scan_.has_transition = true;
                if (has_local_name(event.name, "timing")) scan_.has_timing = true;
            }
            // a self-closing text element holds nothing
            if (event.kind == XmlEventKind::StartElement && is_text_element_name(event.name)) {
                in_text_ = true;
                collected_.clear();
            }
            break;
        case XmlEventKind::EndElement:
            if (is_text_element_name(event.name)) {
                if (!collected_.empty()) scan_.texts.push_back(std::move(collected_));
                collected_.clear();
                in_text_ = false;
            }
            break;
        case XmlEventKind::Text:
        case XmlEventKind::CData:
        case XmlEventKind::EntityReference:
        case XmlEventKind::CharReference:
            if (in_text_) {
                ParagraphEvent piece(event);
                if (auto text = piece.content()) collected_ += *text;
            }
            break;
        default:
            break;
    }
}

ParagraphEvent::ParagraphEvent(const XmlEvent& event) : event_(event) {
    if (event.kind == XmlEventKind::StartElement || event.kind == XmlEventKind::EmptyElement ||
        event.kind == XmlEventKind::EndElement)
        tag_ = paragraph_tag(event.name);
}

std::optional<std::string_view> ParagraphEvent::content() {
    if (decoded_) return content_;
    decoded_ = true;
    // CDATA is character data like any other (some writers put every run's
    // text in a CDATA section)
    if (event_.kind == XmlEventKind::Text || event_.kind == XmlEventKind::CData) {
        std::string_view piece = event_.content;
        // only line-end normalisation would change a piece, so most pieces
        // are their own content and need no copy
        if (!piece.empty() && piece.find('\r') == std::string_view::npos) {
            if (is_valid_utf8(piece)) content_ = piece;
            return content_;
        }
        decoded_text_ = xml_text_content(event_);
    } else if (event_.is_reference()) {
        decoded_text_ = xml_reference_content(event_);
    }
    if (decoded_text_) content_ = *decoded_text_;
    return content_;
}

void ParagraphTextCollector::on_event(ParagraphEvent& event) {
    using K = XmlEventKind;
    using T = ParagraphTag;
    if (list_.step(event)) return;
    if (event.is(K::StartElement, T::Text)) {
        if (list_.in_paragraph) in_text_ = true;
    } else if (event.is(K::EndElement, T::Text)) {
        in_text_ = false;
    } else if (event.opens(T::Break)) {
        if (list_.in_paragraph) list_.current.push_back('\v');
    } else if (list_.in_paragraph && in_text_) {
        if (auto text = event.content()) list_.current += *text;
    }
}

void RunTextCollector::on_event(ParagraphEvent& event) {
    using K = XmlEventKind;
    using T = ParagraphTag;
    if (list_.step(event)) return;
    if (event.is(K::StartElement, T::Text)) {
        if (list_.in_paragraph) {
            in_text_ = true;
            collected_.clear();
        }
    } else if (event.is(K::EndElement, T::Text)) {
        if (!collected_.empty()) list_.current.push_back(std::move(collected_));
        collected_.clear();
        in_text_ = false;
    } else if (list_.in_paragraph && in_text_) {
        if (auto text = event.content()) collected_ += *text;
    }
}

template <std::size_t N>
void RunListCollector<N>::on_event(ParagraphEvent& event) {
    using K = XmlEventKind;
    using T = ParagraphTag;
    if (event.tag() == T::Other) {
        // run properties and fonts are the only other elements that count
        if (event.event().is_element_start()) {
            if (in_run_) remember_values(event.event());
            return;
        }
    }
    if (event.is(K::StartElement, T::Paragraph)) {
        in_paragraph_ = true;
        run_count_ = 0;
        breaks_.clear();
        // drop what an unfinished paragraph before this one stored
        for (auto& values : values_) values.resize(paragraph_begin_);
    } else if (event.is(K::EmptyElement, T::Paragraph)) {
        // an empty paragraph ahead of whatever the open one has stored
        line_breaks_.emplace_back();
        paragraph_ends_.push_back(paragraph_begin_);
    } else if (event.is(K::EndElement, T::Paragraph)) {
        if (!in_paragraph_) return;
        line_breaks_.push_back(std::move(breaks_));
        breaks_.clear();
        paragraph_begin_ = values_[0].size();
        paragraph_ends_.push_back(paragraph_begin_);
        in_paragraph_ = false;
    } else if (event.is(K::StartElement, T::Run)) {
        if (!in_paragraph_) return;
        in_run_ = true;
        run_has_text_ = false;
        remembered_.fill(std::nullopt);
    } else if (event.is(K::EndElement, T::Run)) {
        if (in_run_ && run_has_text_) ++run_count_;
        in_run_ = false;
        remembered_.fill(std::nullopt);
    } else if (event.is(K::StartElement, T::Text)) {
        if (!in_run_) return;
        in_text_ = true;
        text_has_content_ = false;
    } else if (event.is(K::EndElement, T::Text)) {
        // one entry per text element that received content, so the values
        // stay aligned with the runs the break positions count
        if (in_text_ && text_has_content_)
            for (std::size_t i = 0; i < N; ++i) values_[i].push_back(remembered_[i]);
        in_text_ = false;
    } else if (event.opens(T::Break)) {
        if (in_paragraph_) breaks_.push_back(run_count_);
    } else if (event.event().is_element_start()) {
        if (in_run_) remember_values(event.event());
    } else if (in_run_ && in_text_ && event.content()) {
        run_has_text_ = true;
        text_has_content_ = true;
    }
}

template <std::size_t N>
void RunListCollector<N>::remember_values(const XmlEvent& element) {
    std::string_view local = element.local_name();
    std::array<bool, N> wanted{};
    bool any = false;
    for (std::size_t i = 0; i < N; ++i) {
        if (local != sources_[i].element) continue;
        wanted[i] = true;
        remembered_[i] = std::nullopt;
        any = true;
    }
    if (!any) return;
    // `drawingml_attribute` for every wanted name in one walk over the
    // attributes: run properties are asked for four of them
    XmlAttributeIterator attributes = element.attribute_iterator();
    while (auto item = attributes.next()) {
        if (!*item) continue;
        std::string_view key = xml_local_name((*item)->key);
        for (std::size_t i = 0; i < N; ++i) {
            if (!wanted[i] || key != sources_[i].attribute) continue;
            std::string_view raw = (*item)->raw_value;
            remembered_[i] = is_valid_utf8(raw) ? raw : std::string_view();
            wanted[i] = false;
        }
    }
}

template class RunListCollector<1>;
template class RunListCollector<5>;

std::vector<std::string> extract_paragraph_texts(std::string_view text) {
    ParagraphTextCollector collector;
    for_each_xml_event<XmlTextMode::Streaming>(text, [&](const XmlEvent& event) {
        ParagraphEvent paragraph_event(event);
        collector.on_event(paragraph_event);
    });
    return collector.take();
}

std::vector<std::vector<std::optional<std::string>>> extract_paragraph_run_text_attribute(
    std::string_view text, std::string_view local_name) {
    RunListCollector<1> collector(std::array<RunValueSource, 1>{{{"rPr", local_name}}});
    for_each_xml_event<XmlTextMode::Streaming>(text, [&](const XmlEvent& event) {
        ParagraphEvent paragraph_event(event);
        collector.on_event(paragraph_event);
    });
    return collector.take_values(0, owned_value);
}

ParagraphListCollector::ParagraphListCollector() : run_lists_(shape_run_sources) {}

void ParagraphListCollector::on_event(const XmlEvent& event) {
    ParagraphEvent paragraph_event(event);
    // Most events are elements of no paragraph role; of those only starts
    // matter, and only to the run values (run properties, fonts).
    if (paragraph_event.tag() == ParagraphTag::Other && !event.is_reference() && event.kind != XmlEventKind::Text &&
        event.kind != XmlEventKind::CData) {
        if (event.is_element_start()) run_lists_.on_event(paragraph_event);
        return;
    }
    paragraphs_.on_event(paragraph_event);
    runs_.on_event(paragraph_event);
    run_lists_.on_event(paragraph_event);
}

ParagraphLists ParagraphListCollector::take() {
    ParagraphLists lists;
    lists.paragraphs = paragraphs_.take();
    lists.runs = runs_.take();
    lists.line_breaks = run_lists_.take_line_breaks();
    lists.bold = run_lists_.take_values(0, switch_value);
    lists.italic = run_lists_.take_values(1, switch_value);
    lists.underline = run_lists_.take_values(2, underline_value);
    lists.font_size = run_lists_.take_values(3, font_size_value);
    lists.font_name = run_lists_.take_values(4, owned_value);
    return lists;
}

}  // namespace zandrel
