#include "summary_text_extract.hpp"

#include <utility>

#include "package_reader.hpp"
#include "text_xml_helpers.hpp"
#include "xml_chars.hpp"
#include "xml_tag_scan.hpp"

namespace zandrel {
namespace {

ParagraphTag paragraph_tag(std::string_view local_name) {
    if (local_name == "p") return ParagraphTag::Paragraph;
    if (local_name == "r") return ParagraphTag::Run;
    if (local_name == "t") return ParagraphTag::Text;
    if (local_name == "br") return ParagraphTag::Break;
    return ParagraphTag::Other;
}

bool is_text_element_name(std::string_view name) { return name == "t" || name.ends_with(":t"); }

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

template <class Out, class Convert>
std::vector<std::vector<Out>> convert_values(
    const std::vector<std::vector<std::optional<std::string_view>>>& values, Convert convert) {
    std::vector<std::vector<Out>> out;
    out.reserve(values.size());
    for (const auto& paragraph : values) {
        auto& converted = out.emplace_back();
        converted.reserve(paragraph.size());
        for (const auto& value : paragraph) converted.push_back(convert(value));
    }
    return out;
}

// The trimmed text elements, plus the element probes of a slide when asked.
SlideTextScan scan_text_elements(std::string_view xml, bool probe_elements) {
    SlideTextScan scan;
    bool in_text = false;
    std::string collected;
    for_each_xml_event<XmlTextMode::Trimming>(xml, [&](const XmlEvent& event) {
        switch (event.kind) {
            case XmlEventKind::StartElement:
            case XmlEventKind::EmptyElement:
                if (probe_elements) {
                    std::string_view local = event.local_name();
                    if (local == "transition") scan.has_transition = true;
                    if (local == "timing") scan.has_timing = true;
                }
                // a self-closing text element holds nothing
                if (event.kind == XmlEventKind::StartElement && is_text_element_name(event.name)) {
                    in_text = true;
                    collected.clear();
                }
                break;
            case XmlEventKind::EndElement:
                if (is_text_element_name(event.name)) {
                    if (!collected.empty()) scan.texts.push_back(std::move(collected));
                    collected.clear();
                    in_text = false;
                }
                break;
            case XmlEventKind::Text:
            case XmlEventKind::CData:
                if (in_text)
                    if (auto text = xml_text_content(event)) collected += *text;
                break;
            case XmlEventKind::EntityReference:
            case XmlEventKind::CharReference:
                if (in_text)
                    if (auto text = xml_reference_content(event)) collected += *text;
                break;
            default:
                break;
        }
    });
    return scan;
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

ParagraphEvent::ParagraphEvent(const XmlEvent& event) : event_(event) {
    if (event.kind == XmlEventKind::StartElement || event.kind == XmlEventKind::EmptyElement ||
        event.kind == XmlEventKind::EndElement)
        tag_ = paragraph_tag(event.local_name());
}

const std::optional<std::string>& ParagraphEvent::content() {
    if (!decoded_) {
        decoded_ = true;
        // CDATA is character data like any other (some writers put every
        // run's text in a CDATA section)
        if (event_.kind == XmlEventKind::Text || event_.kind == XmlEventKind::CData)
            content_ = xml_text_content(event_);
        else if (event_.is_reference())
            content_ = xml_reference_content(event_);
    }
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
        if (const auto& text = event.content()) list_.current += *text;
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
        if (const auto& text = event.content()) collected_ += *text;
    }
}

template <std::size_t N>
void RunListCollector<N>::on_event(ParagraphEvent& event) {
    using K = XmlEventKind;
    using T = ParagraphTag;
    if (event.is(K::StartElement, T::Paragraph)) {
        in_paragraph_ = true;
        run_count_ = 0;
        breaks_.clear();
        for (auto& current : current_) current.clear();
    } else if (event.is(K::EmptyElement, T::Paragraph)) {
        line_breaks_.emplace_back();
        for (auto& values : values_) values.emplace_back();
    } else if (event.is(K::EndElement, T::Paragraph)) {
        if (!in_paragraph_) return;
        line_breaks_.push_back(std::move(breaks_));
        breaks_.clear();
        for (std::size_t i = 0; i < N; ++i) {
            values_[i].push_back(std::move(current_[i]));
            current_[i].clear();
        }
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
            for (std::size_t i = 0; i < N; ++i) current_[i].push_back(remembered_[i]);
        in_text_ = false;
    } else if (event.opens(T::Break)) {
        if (in_paragraph_) breaks_.push_back(run_count_);
    } else if (event.event().is_element_start()) {
        if (!in_run_) return;
        std::string_view local = event.event().local_name();
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
        XmlAttributeIterator attributes = event.event().attribute_iterator();
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
    } else if (in_run_ && in_text_ && event.content()) {
        run_has_text_ = true;
        text_has_content_ = true;
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
    return convert_values<std::optional<std::string>>(collector.take_values(0), owned_value);
}

ParagraphListCollector::ParagraphListCollector() : run_lists_(shape_run_sources) {}

void ParagraphListCollector::on_event(const XmlEvent& event) {
    ParagraphEvent paragraph_event(event);
    paragraphs_.on_event(paragraph_event);
    runs_.on_event(paragraph_event);
    run_lists_.on_event(paragraph_event);
}

ParagraphLists ParagraphListCollector::take() {
    ParagraphLists lists;
    lists.paragraphs = paragraphs_.take();
    lists.runs = runs_.take();
    lists.line_breaks = run_lists_.take_line_breaks();
    lists.bold = convert_values<std::optional<bool>>(run_lists_.take_values(0), switch_value);
    lists.italic = convert_values<std::optional<bool>>(run_lists_.take_values(1), switch_value);
    lists.underline = convert_values<std::optional<bool>>(run_lists_.take_values(2), underline_value);
    lists.font_size = convert_values<std::optional<std::int64_t>>(run_lists_.take_values(3), font_size_value);
    lists.font_name = convert_values<std::optional<std::string>>(run_lists_.take_values(4), owned_value);
    return lists;
}

}  // namespace zandrel
