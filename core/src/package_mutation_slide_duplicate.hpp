// Duplicating a slide: the copy goes to the end of the presentation, the parts
// that belong to the slide alone are copied with it, shared parts are shared.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "models.hpp"
#include "models_slides.hpp"

namespace zandrel {

// Relationship id -> new Target.
using TargetMap = std::map<std::string, std::string, std::less<>>;

// The relationship part with the Target of every Relationship (any prefix)
// whose Id is in the map replaced; everything else passes through unchanged.
// Xml for malformed XML.
Result<std::string> rewrite_relationship_targets(std::string_view relationships, const TargetMap& targets);

// Appends a copy of `source_slide_part`. Copy policy by relationship type:
// external targets (TargetMode "External", any case), layouts, images, audio,
// video and media are shared; charts (with the parts their own relationships
// name), notes slides (their slide relationship pointed at the copy), OLE
// objects, packages and comments are copied under the next free numbered
// name whose relationship part name is free too, and a copied part's own
// relationship part comes along under the copy's name. Errors, in the order
// met:
//   Io for the output's folder; Io / Zip for the input;
//   InvalidInput "source slide part {} was not found in the presentation";
//   Zip "file not found: {}" for a missing slide entry; Io when its
//     relationship part is not UTF-8, Xml when it does not parse;
//   InvalidInput "source slide part {} has no slide layout relationship";
//   InvalidInput "cannot duplicate slide relationship type {} without an
//     explicit copy policy";
//   errors of `register_new_slide`;
//   InvalidInput "chart part {} was not found", "notes slide part {} was not
//     found", "OLE part {} was not found", "comment part {} was not found";
//   Xml for a chart's or notes slide's relationship part that does not parse;
//   Io / Zip from writing.
Result<SlideAddSummary> duplicate_slide(const std::string& input_path, const std::string& output_path,
                                        const std::string& source_slide_part);

}  // namespace zandrel
