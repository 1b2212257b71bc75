// Times extract_shape_blocks on synthetic slides of 10,000 and 20,000 shapes
// (plain shapes, pictures, connectors, graphic frames, groups, and shapes
// wrapped in mc:AlternateContent). The walk must be linear: the time for the
// doubled slide may be at most 2.5 times the time for the smaller one. Each
// result is checked before it is timed; a plain substring scan over the same
// text is the floor every time is compared with.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

#include "xml_shape_tree.hpp"

namespace {

struct Slide {
    std::string text;
    std::size_t items = 0;
    std::size_t top_level_shapes = 0;
};

std::string plain_shape(std::size_t id) {
    return "<p:sp><p:nvSpPr><p:cNvPr id=\"" + std::to_string(id) + "\" name=\"Shape " + std::to_string(id) +
           "\"/><p:cNvSpPr/><p:nvPr/></p:nvSpPr><p:spPr><a:xfrm><a:off x=\"0\" y=\"0\"/><a:ext cx=\"10\" "
           "cy=\"10\"/></a:xfrm><a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></p:spPr><p:txBody>"
           "<a:bodyPr/><a:lstStyle/><a:p><a:r><a:rPr lang=\"en-US\"/><a:t>Text</a:t></a:r></a:p></p:txBody></p:sp>";
}

std::string other_shape(std::size_t id, std::size_t kind) {
    std::string cnvpr = "<p:cNvPr id=\"" + std::to_string(id) + "\" name=\"Other\"/>";
    switch (kind) {
        case 0: return "<p:pic><p:nvPicPr>" + cnvpr + "<p:cNvPicPr/><p:nvPr/></p:nvPicPr><p:blipFill/><p:spPr/></p:pic>";
        case 1: return "<p:cxnSp><p:nvCxnSpPr>" + cnvpr + "<p:cNvCxnSpPr/><p:nvPr/></p:nvCxnSpPr><p:spPr/></p:cxnSp>";
        default:
            return "<p:graphicFrame><p:nvGraphicFramePr>" + cnvpr +
                   "<p:cNvGraphicFramePr/><p:nvPr/></p:nvGraphicFramePr><p:xfrm/><a:graphic/></p:graphicFrame>";
    }
}

// Every 10th top-level item is a group of three, every 7th an
// alternate-content block (which extract_shape_blocks skips).
Slide make_slide(std::size_t shapes) {
    Slide slide;
    slide.items = shapes;
    slide.text = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><p:sld><p:cSld><p:spTree>"
                 "<p:nvGrpSpPr><p:cNvPr id=\"1\" name=\"\"/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr><p:grpSpPr/>";
    std::size_t id = 2;
    for (std::size_t item = 0; item < shapes; ++item) {
        if (item % 10 == 9) {
            slide.text += "<p:grpSp><p:nvGrpSpPr><p:cNvPr id=\"" + std::to_string(id++) +
                          "\" name=\"Group\"/><p:cNvGrpSpPr/><p:nvPr/></p:nvGrpSpPr><p:grpSpPr/>";
            for (int child = 0; child < 3; ++child) slide.text += plain_shape(id++);
            slide.text += "</p:grpSp>";
            ++slide.top_level_shapes;
        } else if (item % 7 == 6) {
            slide.text += "<mc:AlternateContent><mc:Choice Requires=\"p14\">" + plain_shape(id) +
                          "</mc:Choice><mc:Fallback>" + other_shape(id, 0) + "</mc:Fallback></mc:AlternateContent>";
            ++id;
        } else {
            slide.text += item % 4 == 3 ? other_shape(id, item % 3) : plain_shape(id);
            ++id;
            ++slide.top_level_shapes;
        }
    }
    slide.text += "</p:spTree></p:cSld></p:sld>";
    return slide;
}

bool check(const Slide& slide) {
    auto blocks = zandrel::extract_shape_blocks(slide.text);
    if (blocks.size() != slide.top_level_shapes) {
        std::printf("wrong block count: %zu instead of %zu\n", blocks.size(), slide.top_level_shapes);
        return false;
    }
    for (auto block : blocks) {
        auto name_end = block.find_first_of(" />", 1);
        std::string closing = "</" + std::string(block.substr(1, name_end - 1)) + ">";
        if (!block.ends_with(closing)) {
            std::printf("block does not end with %s\n", closing.c_str());
            return false;
        }
    }
    return true;
}

template <class F>
double best_seconds(int repeats, F&& function) {
    double best = 1e300;
    for (int i = 0; i < repeats; ++i) {
        auto start = std::chrono::steady_clock::now();
        function();
        std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
    }
    return best;
}

volatile std::size_t sink;

double time_slide(const Slide& slide) {
    double blocks = best_seconds(7, [&] { sink = zandrel::extract_shape_blocks(slide.text).size(); });
    double scan = best_seconds(7, [&] { sink = slide.text.find("<p:absent"); });
    std::printf("%6zu shapes (%zu top-level blocks), %5.2f MB: extract_shape_blocks %8.3f ms (%6.1f MB/s), "
                "%4.1fx one substring scan\n",
                slide.items, slide.top_level_shapes, slide.text.size() / 1e6, blocks * 1e3, slide.text.size() / blocks / 1e6,
                blocks / scan);
    return blocks;
}

}  // namespace

int main() {
    Slide small = make_slide(10000);
    Slide large = make_slide(20000);
    if (!check(small) || !check(large)) return 1;
    double small_time = time_slide(small);
    double large_time = time_slide(large);
    double ratio = large_time / small_time;
    std::printf("20,000 / 10,000 shapes time ratio: %.2f (linear when at most 2.5)\n", ratio);
    return ratio <= 2.5 ? 0 : 1;
}
