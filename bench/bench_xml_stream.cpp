// Streaming identity rewrite (read every event, write it back) against Expat
// parsing the same bytes, on the largest slide of the corpus and on a
// synthetic 50 MB slide.
//
// Usage: bench_xml_stream [corpus folder | slide.xml]
//
// Before timing, each input is checked: the rewrite must reproduce it byte for
// byte, and Expat must accept it and count as many elements as our reader.
#include <expat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "text_xml_helpers.hpp"
#include "xml_tokenizer.hpp"
#include "zip_reader.hpp"

namespace {

using namespace zandrel;
using Clock = std::chrono::steady_clock;

struct Sample {
    std::string label;
    std::string text;
};

bool is_slide_part(const std::string& name) {
    return name.starts_with("ppt/slides/slide") && name.ends_with(".xml");
}

// The largest slide part over every deck below `folder`.
std::optional<Sample> largest_corpus_slide(const std::filesystem::path& folder) {
    std::optional<Sample> best;
    for (const auto& file : std::filesystem::recursive_directory_iterator(folder)) {
        const std::string extension = file.path().extension().string();
        if (extension != ".pptx" && extension != ".pptm" && extension != ".potx") continue;
        Result<ZipReader> zip = ZipReader::open(file.path().string());
        if (!zip) continue;
        for (std::size_t i = 0; i < zip->entry_count(); ++i) {
            const ZipEntry& entry = zip->entry(i);
            if (!is_slide_part(entry.name)) continue;
            if (best && entry.uncompressed_size <= best->text.size()) continue;
            Result<OpenedEntry> opened = zip->open_entry(i);
            if (!opened) continue;
            Result<std::string> text = zip->read_entry(*opened);
            if (!text || !identity_rewrite(*text)) continue;
            best = Sample{file.path().filename().string() + " " + entry.name, std::move(text).value()};
        }
    }
    return best;
}

// Shapes with a few formatted runs each, as a text-heavy deck would have.
std::string synthetic_slide(std::size_t target_size) {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<p:sld xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
        "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
        "xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\"><p:cSld><p:spTree>"
        "<p:nvGrpSpPr><p:cNvPr id=\"1\" name=\"\"/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr>"
        "<p:grpSpPr><a:xfrm><a:off x=\"0\" y=\"0\"/><a:ext cx=\"0\" cy=\"0\"/>"
        "<a:chOff x=\"0\" y=\"0\"/><a:chExt cx=\"0\" cy=\"0\"/></a:xfrm></p:grpSpPr>";
    const std::string tail = "</p:spTree></p:cSld><p:clrMapOvr><a:masterClrMapping/></p:clrMapOvr></p:sld>";
    for (std::size_t id = 2; text.size() + tail.size() < target_size; ++id) {
        const std::string n = std::to_string(id);
        text += "<p:sp><p:nvSpPr><p:cNvPr id=\"" + n + "\" name=\"TextBox " + n +
                "\"/><p:cNvSpPr txBox=\"1\"/><p:nvPr/></p:nvSpPr><p:spPr><a:xfrm><a:off x=\"" +
                std::to_string(id * 1000) + "\" y=\"457200\"/><a:ext cx=\"4572000\" cy=\"914400\"/></a:xfrm>"
                "<a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom><a:noFill/></p:spPr>"
                "<p:txBody><a:bodyPr wrap=\"square\" rtlCol=\"0\"><a:spAutoFit/></a:bodyPr><a:lstStyle/>"
                "<a:p><a:r><a:rPr lang=\"en-US\" sz=\"2400\" b=\"1\" dirty=\"0\"/><a:t>Quarterly results for "
                "region " + n + "</a:t></a:r><a:r><a:rPr lang=\"en-US\" sz=\"1800\" dirty=\"0\"/>"
                "<a:t> revenue &amp; margin grew by 4.5% (\xE2\x82\xAC 1.2m)</a:t></a:r></a:p>"
                "<a:p><a:pPr lvl=\"1\"/><a:r><a:rPr lang=\"de-DE\" dirty=\"0\"/><a:t>Gr\xC3\xB6\xC3\x9F"
                "enordnung &lt;&gt; Vorjahr</a:t></a:r><a:endParaRPr lang=\"en-US\" dirty=\"0\"/></a:p>"
                "</p:txBody></p:sp>\n";
    }
    return text + tail;
}

std::size_t count_elements(std::string_view text) {
    XmlStreamReader reader(text);
    std::size_t elements = 0;
    for (;;) {
        Result<XmlEvent> event = reader.next();
        if (!event || event->kind == XmlEventKind::EndOfInput) return elements;
        if (event->is_element_start()) ++elements;
    }
}

void XMLCALL on_start(void* data, const XML_Char*, const XML_Char**) { ++*static_cast<std::size_t*>(data); }
void XMLCALL on_end(void*, const XML_Char*) {}
void XMLCALL on_text(void*, const XML_Char*, int) {}

// Parses with Expat; the element count, or nullopt when Expat rejects it.
std::optional<std::size_t> expat_parse(std::string_view text) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    std::size_t elements = 0;
    XML_SetUserData(parser, &elements);
    XML_SetElementHandler(parser, on_start, on_end);
    XML_SetCharacterDataHandler(parser, on_text);
    const bool ok = XML_Parse(parser, text.data(), static_cast<int>(text.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    if (!ok) return std::nullopt;
    return elements;
}

// Best MB/s over enough repetitions to fill about a second.
template <class Run>
double throughput(std::size_t bytes, Run run) {
    const std::size_t repetitions = std::clamp<std::size_t>(200'000'000 / std::max<std::size_t>(bytes, 1), 3, 2000);
    double best_seconds = 1e300;
    for (std::size_t r = 0; r < repetitions; ++r) {
        const auto start = Clock::now();
        run();
        best_seconds = std::min(best_seconds, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return static_cast<double>(bytes) / 1e6 / best_seconds;
}

bool bench(const Sample& sample) {
    std::printf("%s: %.2f MB\n", sample.label.c_str(), static_cast<double>(sample.text.size()) / 1e6);
    Result<std::string> copy = identity_rewrite(sample.text);
    if (!copy || *copy != sample.text) {
        std::printf("  FAILED: the identity rewrite does not reproduce the input\n");
        return false;
    }
    const std::size_t ours = count_elements(sample.text);
    const std::optional<std::size_t> theirs = expat_parse(sample.text);
    if (!theirs || *theirs != ours) {
        std::printf("  FAILED: Expat %s (%zu elements here)\n", theirs ? "counts differently" : "rejects it", ours);
        return false;
    }
    std::size_t sink = 0;
    const double rewrite = throughput(sample.text.size(), [&] { sink += identity_rewrite(sample.text)->size(); });
    const double tokenize = throughput(sample.text.size(), [&] { sink += count_elements(sample.text); });
    const double expat = throughput(sample.text.size(), [&] { sink += *expat_parse(sample.text); });
    std::printf("  %zu elements, checked against Expat\n", ours);
    std::printf("  identity rewrite (read + write) %8.1f MB/s  %.2fx Expat\n", rewrite, rewrite / expat);
    std::printf("  tokenize only                   %8.1f MB/s  %.2fx Expat\n", tokenize, tokenize / expat);
    std::printf("  Expat parse                     %8.1f MB/s\n", expat);
    if (sink == 0) std::printf("  (no output)\n");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path source = argc > 1 ? argv[1] : ZANDREL_CORPUS_DIR;
    std::vector<Sample> samples;
    if (std::filesystem::is_regular_file(source)) {
        std::ifstream file(source, std::ios::binary);
        std::ostringstream content;
        content << file.rdbuf();
        samples.push_back({source.filename().string(), content.str()});
    } else if (std::filesystem::is_directory(source)) {
        if (std::optional<Sample> slide = largest_corpus_slide(source)) samples.push_back(std::move(*slide));
    }
    if (samples.empty()) std::printf("no corpus slide found under %s; synthetic slide only\n", source.c_str());
    samples.push_back({"synthetic slide", synthetic_slide(50'000'000)});
    bool ok = true;
    for (const Sample& sample : samples) ok = bench(sample) && ok;
    return ok ? 0 : 1;
}
