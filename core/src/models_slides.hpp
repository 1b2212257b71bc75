// Result records of the slide lifecycle operations (adding, duplicating and
// deleting slides) and their JSON form, keys in declaration order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "json_output.hpp"

namespace zandrel {

// A slide added at the end of the presentation, blank or as a copy.
struct SlideAddSummary {
    std::string path;             // the output path as given
    std::string slide_part;       // e.g. ppt/slides/slide4.xml
    std::string relationship_id;  // the new relationship of ppt/presentation.xml
    std::string layout_target;    // the layout Target of the new slide, as written
    std::uint64_t slide_id = 0;   // id of the new p:sldId
    std::uint64_t slide_count = 0;
    std::uint64_t part_count = 0;
    bool has_vba = false;
};

// Slides removed together with the parts only they used.
struct SlideDeleteSummary {
    std::string path;
    std::vector<std::string> deleted_slide_parts;       // sorted byte-wise
    std::vector<std::string> deleted_relationship_ids;  // sorted byte-wise
    std::uint64_t survivor_count = 0;
    std::uint64_t part_count = 0;
    bool has_vba = false;
};

void to_json(Json& out, const SlideAddSummary& summary);
void to_json(Json& out, const SlideDeleteSummary& summary);

}  // namespace zandrel
