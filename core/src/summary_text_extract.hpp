// The text of slides and shapes as the summaries read it: trimmed text
// elements of a whole part, and the paragraph-level lists of one shape
// (paragraph texts, run texts, line-break positions, per-run values).
//
// Elements are recognised by local name: a paragraph is `p`, a run `r`, a
// text element `t`, a line break `br`. A text-bearing run is a run whose text
// element received some content from a text piece or a reference; field
// runs and other holders of text elements are not runs, but their text
// counts for paragraph texts and run texts. A CDATA section is a text piece
// like any other (never trimmed). Nothing here fails: a parse error
// ends a pass quietly and the lists hold what was collected before it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "xml_tokenizer.hpp"

namespace zandrel {

// Part bytes as UTF-8 text for the scanners: the bytes themselves when they
// are well-formed, otherwise a copy with every ill-formed sequence replaced
// by U+FFFD. The bytes must outlive it.
class LossyUtf8Text {
public:
    explicit LossyUtf8Text(std::string_view bytes);
    std::string_view view() const { return decoded_ ? std::string_view(*decoded_) : bytes_; }
    // Whether the view is the bytes themselves (they are well-formed).
    bool is_bytes() const { return !decoded_; }

private:
    std::string_view bytes_;
    std::optional<std::string> decoded_;
};

// Feeds every event of `text` to `on_event` until the end of input or the
// first parse error.
template <XmlTextMode Mode, class OnEvent>
void for_each_xml_event(std::string_view text, OnEvent&& on_event) {
    BasicXmlReader<Mode> reader(text);
    for (;;) {
        Result<XmlEvent> event = reader.next();
        if (!event || event->kind == XmlEventKind::EndOfInput) return;
        on_event(*event);
    }
}

// The trimmed text elements of a part (an element named `t` or ending in
// ":t"), empty ones dropped. Trimming applies to each text piece on its own,
// so the spaces around a reference disappear.
std::vector<std::string> extract_text_runs(std::string_view xml);

// `extract_text_runs` of a slide together with whether it has an element of
// local name `transition` or `timing`, all from one trimming pass.
struct SlideTextScan {
    std::vector<std::string> texts;
    bool has_transition = false;
    bool has_timing = false;
};
SlideTextScan scan_slide_text(std::string_view xml);

// `scan_slide_text` (or, without the probes, `extract_text_runs`) as a
// collector of the events of a trimming pass (see `trim_text_event`).
class SlideTextCollector {
public:
    explicit SlideTextCollector(bool probe_elements) : probe_elements_(probe_elements) {}
    void on_event(const XmlEvent& event);
    SlideTextScan take() { return std::move(scan_); }

private:
    bool probe_elements_;
    bool in_text_ = false;
    std::string collected_;
    SlideTextScan scan_;
};

// One text per paragraph: its text pieces and references joined, each line
// break as U+000B; a self-closing paragraph gives "".
std::vector<std::string> extract_paragraph_texts(std::string_view text);

// Per paragraph, per text-bearing run, the raw value of the attribute of
// local name `local_name` on the run's properties (`rPr`); none where the
// attribute is missing.
std::vector<std::vector<std::optional<std::string>>> extract_paragraph_run_text_attribute(
    std::string_view text, std::string_view local_name);

enum class ParagraphTag : std::uint8_t { Other, Paragraph, Run, Text, Break };

// One event as the paragraph collectors see it: its role, found once, and
// the text it contributes, decoded at most once however many
// ask.
class ParagraphEvent {
public:
    explicit ParagraphEvent(const XmlEvent& event);

    const XmlEvent& event() const { return event_; }
    ParagraphTag tag() const { return tag_; }
    bool is(XmlEventKind kind, ParagraphTag tag) const { return event_.kind == kind && tag_ == tag; }
    // Start or self-closing element of that role.
    bool opens(ParagraphTag tag) const { return event_.is_element_start() && tag_ == tag; }
    // The text of a text piece (text or CDATA) or reference
    // (`xml_text_content`, `xml_reference_content`); none for other events
    // and for pieces without content (empty, or not UTF-8). A view into the
    // event's text where that is the content already (no carriage return),
    // otherwise into this object.
    std::optional<std::string_view> content();

private:
    const XmlEvent& event_;
    ParagraphTag tag_ = ParagraphTag::Other;
    bool decoded_ = false;
    std::optional<std::string_view> content_;
    std::optional<std::string> decoded_text_;
};

// The bookkeeping the paragraph collectors share: a paragraph start opens a
// fresh `current`, a self-closing paragraph adds an empty entry, a paragraph
// end stores `current`.
template <class Current>
class ParagraphList {
public:
    // True when the event was a paragraph boundary and has been handled.
    bool step(ParagraphEvent& event) {
        using K = XmlEventKind;
        if (event.is(K::StartElement, ParagraphTag::Paragraph)) {
            current = Current{};
            in_paragraph = true;
        } else if (event.is(K::EmptyElement, ParagraphTag::Paragraph)) {
            paragraphs.emplace_back();
        } else if (event.is(K::EndElement, ParagraphTag::Paragraph)) {
            if (in_paragraph) paragraphs.push_back(std::move(current));
            current = Current{};
            in_paragraph = false;
        } else {
            return false;
        }
        return true;
    }

    bool in_paragraph = false;
    Current current{};
    std::vector<Current> paragraphs;
};

// `extract_paragraph_texts` as a collector.
class ParagraphTextCollector {
public:
    void on_event(ParagraphEvent& event);
    std::vector<std::string> take() { return std::move(list_.paragraphs); }

private:
    ParagraphList<std::string> list_;
    bool in_text_ = false;
};

// Per paragraph, the non-empty text elements.
class RunTextCollector {
public:
    void on_event(ParagraphEvent& event);
    std::vector<std::vector<std::string>> take() { return std::move(list_.paragraphs); }

private:
    ParagraphList<std::vector<std::string>> list_;
    bool in_text_ = false;
    std::string collected_;
};

// A value remembered per run: attribute `attribute` (by local name) of the
// element of local name `element` met inside the run.
struct RunValueSource {
    std::string_view element;
    std::string_view attribute;
};

// Per paragraph, the line-break positions (text-bearing runs before each
// break) and, per text-bearing run, the value of each source. Values are
// views into the text the events come from until they are taken.
template <std::size_t N>
class RunListCollector {
public:
    using Value = std::optional<std::string_view>;

    explicit RunListCollector(std::array<RunValueSource, N> sources) : sources_(sources) {}
    void on_event(ParagraphEvent& event);
    std::vector<std::vector<std::uint64_t>> take_line_breaks() { return std::move(line_breaks_); }
    // Per paragraph, per text-bearing run, `convert(value)` of the source's
    // value.
    template <class Convert>
    auto take_values(std::size_t source, Convert convert) const {
        std::vector<std::vector<decltype(convert(Value()))>> paragraphs;
        paragraphs.reserve(paragraph_ends_.size());
        std::size_t begin = 0;
        for (std::size_t end : paragraph_ends_) {
            auto& converted = paragraphs.emplace_back();
            converted.reserve(end - begin);
            for (std::size_t i = begin; i < end; ++i) converted.push_back(convert(values_[source][i]));
            begin = end;
        }
        return paragraphs;
    }

private:
    // Remembers the values a start of an element of no paragraph role gives
    // inside a run.
    void remember_values(const XmlEvent& element);

    std::array<RunValueSource, N> sources_;
    bool in_paragraph_ = false;
    bool in_run_ = false;
    bool in_text_ = false;
    bool run_has_text_ = false;
    bool text_has_content_ = false;
    std::uint64_t run_count_ = 0;
    std::vector<std::uint64_t> breaks_;
    std::vector<std::vector<std::uint64_t>> line_breaks_;
    std::array<Value, N> remembered_{};
    // Every stored value of a source in one list, cut into paragraphs by
    // `paragraph_ends_`, so a paragraph costs no list of its own until the
    // values are taken; values of an unfinished paragraph lie past the last
    // end and are never taken.
    std::array<std::vector<Value>, N> values_{};
    std::vector<std::size_t> paragraph_ends_;
    std::size_t paragraph_begin_ = 0;
};

// Every paragraph-level list of a shape summary.
struct ParagraphLists {
    std::vector<std::string> paragraphs;
    std::vector<std::vector<std::string>> runs;
    std::vector<std::vector<std::uint64_t>> line_breaks;
    std::vector<std::vector<std::optional<bool>>> bold;
    std::vector<std::vector<std::optional<bool>>> italic;
    std::vector<std::vector<std::optional<bool>>> underline;
    std::vector<std::vector<std::optional<std::int64_t>>> font_size;
    std::vector<std::vector<std::optional<std::string>>> font_name;
};

// Collects `ParagraphLists` from the events of one streaming pass, so the
// caller can feed the same events to collectors of its own. The text the
// events come from must outlive the collector.
class ParagraphListCollector {
public:
    ParagraphListCollector();
    void on_event(const XmlEvent& event);
    ParagraphLists take();

private:
    ParagraphTextCollector paragraphs_;
    RunTextCollector runs_;
    RunListCollector<5> run_lists_;
};

}  // namespace zandrel
