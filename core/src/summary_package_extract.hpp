// Read-only descriptions of a presentation and of single slides: for each
// slide, in presentation order, its texts, top-level shapes, tables, notes
// text, relationships (all, and filtered by kind) and whether it has a
// transition and timing. Nothing is written.
//
// Errors (the first one ends the whole operation):
//   Io when the file cannot be opened or a part cannot be read;
//   Zip when the file is no archive, an entry cannot be opened, or a slide
//     part named by the slide order is missing ("file not found: {name}");
//   the errors of `slide_parts` (slide order) and `read_relationships`;
//   InvalidInput "slide index {index} was not found" (single slide only).
// Malformed slide or notes XML is no error: the affected lists stop where the
// parser stopped.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "models.hpp"
#include "models_summary.hpp"
#include "zip_reader.hpp"

namespace zandrel {

// Slides are summarised on worker threads where the deck is large enough.
Result<PresentationSummary> summarize_presentation(const std::string& path);
// The same as JSON text, each slide's record written by the thread that
// summarised it; equal to `to_json_text` of `summarize_presentation`.
Result<JsonText> summarize_presentation_json(const std::string& path);

Result<SlideSummary> summarize_slide_at_index(const std::string& path, std::uint64_t slide_index);

// One slide of an open package, by its part name.
Result<SlideSummary> summarize_slide(const ZipReader& archive, const std::string& slide_part);

// The trimmed texts of the notes page of the first relationship (in the
// order given) whose type is longer than 10 characters and ends in
// "/notesSlide"; empty without one or when its part is missing. Io when the
// notes part cannot be read.
Result<std::vector<std::string>> read_notes(const ZipReader& archive, std::string_view slide_part,
                                            std::span<const RelationshipSummary> relationships);

}  // namespace zandrel
